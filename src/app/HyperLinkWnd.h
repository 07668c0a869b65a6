#pragma once

#include <QWidget>

namespace vok {

// A child window showing an underlined blue text; a left click hands its
// link to the desktop ("MailTo:" links start the mail program, web
// addresses the browser). It goes with its parent.
class CHyperLinkWnd : public QWidget
{
    Q_OBJECT
public:
    CHyperLinkWnd();

    bool setText(const QString& text);
    void setLink(const QString& link);
    // Shows the link over rect (parent coordinates) as a child of parent.
    bool showAt(const QRect& rect, QWidget* parent);

    const QString& text() const { return m_text; }
    const QString& link() const { return m_link; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString m_text;
    QString m_link;
};

} // namespace vok
