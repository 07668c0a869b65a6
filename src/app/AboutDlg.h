#pragma once

#include <QDialog>

class QLabel;

namespace vok {

class CHyperLinkWnd;

// The About box: the program's name, maker, date, homepage and e-mail
// links.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    static QString homepage();
    static QString mailAddress();

    // The two link windows; made when the box is first shown.
    CHyperLinkWnd* homepageLink() const { return m_homepageLink; }
    CHyperLinkWnd* mailLink() const { return m_mailLink; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    CHyperLinkWnd* makeLink(QLabel* placeholder, const QString& text, const QString& link);

    QLabel* m_homepagePlaceholder = nullptr;
    QLabel* m_mailPlaceholder = nullptr;
    CHyperLinkWnd* m_homepageLink = nullptr;
    CHyperLinkWnd* m_mailLink = nullptr;
};

} // namespace vok
