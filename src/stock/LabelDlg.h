#pragma once

#include "ui/LabelPrint.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QSpinBox;

namespace vok {

// "打印标签": the label paper (remembered for the next time), the position
// of the first label on a half-used A4 sheet, then print or preview.
class CLabelDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CLabelDlg(QList<DeviceLabel> labels, QWidget* parent = nullptr);

    const LabelSheet& sheet() const;
    // The position of the first label, from 0.
    int firstPosition() const;

    // Refuses (with a message) a code no label can carry.
    bool codesPrintable();
    void onPrint();
    void onPreview();

    // The paper chosen last time (A4 when none was), kept in the data folder.
    static const LabelSheet& rememberedSheet();
    // Whether the stock-in form opens this window after each stock-in
    // (off until chosen), kept in the data folder beside the paper.
    static bool printAfterStockIn();
    static void setPrintAfterStockIn(bool on);

private:
    void sheetChosen();
    void remember() const;

    QList<DeviceLabel> m_labels;
    QComboBox* m_sheet = nullptr;
    QSpinBox* m_first = nullptr;
};

} // namespace vok
