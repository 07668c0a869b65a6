#include "app/HyperLinkWnd.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

namespace vok {

CHyperLinkWnd::CHyperLinkWnd()
{
    setCursor(Qt::PointingHandCursor);
}

bool CHyperLinkWnd::setText(const QString& text)
{
    m_text = text;
    update();
    return true;
}

void CHyperLinkWnd::setLink(const QString& link)
{
    m_link = link;
}

bool CHyperLinkWnd::showAt(const QRect& rect, QWidget* parent)
{
    setParent(parent);
    setGeometry(rect);
    show();
    return true;
}

void CHyperLinkWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    QFont f = font();
    f.setUnderline(true);
    p.setFont(f);
    p.setPen(QColor(0, 0, 255));
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop, m_text);
}

void CHyperLinkWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        QDesktopServices::openUrl(QUrl(m_link));
    QWidget::mousePressEvent(event);
}

} // namespace vok
