#pragma once

#include "core/DeviceCard.h"
#include "core/FormContext.h"

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace vok {

// "扫码查看": a code scanned or typed, then Enter, shows the device's card:
// its name, stock on hand, limits and total, and its latest movements of
// every kind, newest first. Read-only; the card prints.
class CDeviceCardDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CDeviceCardDlg(const FormContext& context, QWidget* parent = nullptr);

    // Looks up the code in the code field and shows its card. A code the
    // catalogue does not hold is named in a message; the card shown stays.
    void onLookUp();
    void onPrint();

    const std::optional<DeviceCard>& card() const { return m_card; }
    QTableWidget* movements() const { return m_movements; }

    // The card as the printed page shows it.
    static QString cardHtml(const DeviceCard& card);

private:
    void showCard();

    FormContext m_context;
    std::optional<DeviceCard> m_card;
    QLineEdit* m_code = nullptr;
    QLineEdit* m_name = nullptr;
    QLineEdit* m_now = nullptr;
    QLineEdit* m_high = nullptr;
    QLineEdit* m_low = nullptr;
    QLineEdit* m_total = nullptr;
    QLineEdit* m_lent = nullptr;
    QLineEdit* m_awaitingRepair = nullptr;
    QTableWidget* m_movements = nullptr;
    QPushButton* m_printButton = nullptr;
};

} // namespace vok
