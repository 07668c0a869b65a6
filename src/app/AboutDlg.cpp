#include "app/AboutDlg.h"

#include "app/HyperLinkWnd.h"
#include "app/VOKDlg.h"
#include "ui/DialogStyle.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vok {

QString CAboutDlg::homepage()
{
    return QStringLiteral("https://vok.example.org/");
}

QString CAboutDlg::mailAddress()
{
    return QStringLiteral("vok@example.org");
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("关于仓库管理系统"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFont(dialogFont());

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setPixmap(programIcon().pixmap(64, 64));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* maker = new QLabel(
        QStringLiteral("仓库管理系统 vok %1 版　vok 开发组 制作").arg(QStringLiteral(VOK_VERSION)),
        this);
    auto* date = new QLabel(QStringLiteral("2003-12-28"), this);
    auto* homeLabel = new QLabel(QStringLiteral("我的主页:"), this);
    auto* mailLabel = new QLabel(QStringLiteral("我的邮箱:"), this);

    // Hidden placeholders that keep their room: the link windows are laid
    // over them.
    m_homepagePlaceholder = new QLabel(homepage(), this);
    m_homepagePlaceholder->setObjectName(QStringLiteral("homepage"));
    m_mailPlaceholder = new QLabel(mailAddress(), this);
    m_mailPlaceholder->setObjectName(QStringLiteral("mail"));
    for (QLabel* l : {m_homepagePlaceholder, m_mailPlaceholder}) {
        QSizePolicy sp = l->sizePolicy();
        sp.setRetainSizeWhenHidden(true);
        l->setSizePolicy(sp);
        // Room below the text for the link's underline.
        l->setMinimumHeight(l->fontMetrics().height() + 4);
        l->hide();
    }

    auto* group = new QGroupBox(QStringLiteral("仓库管理系统"), this);
    auto* text = new QGridLayout;
    text->addWidget(maker, 0, 0, 1, 2);
    text->addWidget(date, 1, 0, 1, 2);
    text->addWidget(homeLabel, 2, 0);
    text->addWidget(m_homepagePlaceholder, 2, 1, Qt::AlignLeft);
    text->addWidget(mailLabel, 3, 0);
    text->addWidget(m_mailPlaceholder, 3, 1, Qt::AlignLeft);
    text->setColumnStretch(1, 1);
    text->setVerticalSpacing(10);
    auto* inside = new QHBoxLayout(group);
    inside->addWidget(picture, 0, Qt::AlignTop);
    inside->addSpacing(12);
    inside->addLayout(text, 1);
    inside->setContentsMargins(14, 18, 14, 14);

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(440, 0)));
}

CHyperLinkWnd* CAboutDlg::makeLink(QLabel* placeholder, const QString& text, const QString& link)
{
    const QRect rect(placeholder->mapTo(this, QPoint(0, 0)), placeholder->size());
    auto* w = new CHyperLinkWnd;
    w->setText(text);
    w->setLink(link);
    w->showAt(rect, this);
    return w;
}

void CAboutDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_homepageLink) {
        m_homepageLink = makeLink(m_homepagePlaceholder, homepage(), homepage());
        m_homepageLink->setObjectName(QStringLiteral("homepageLink"));
        m_mailLink =
            makeLink(m_mailPlaceholder, mailAddress(), QStringLiteral("MailTo:") + mailAddress());
        m_mailLink->setObjectName(QStringLiteral("mailLink"));
    }
}

} // namespace vok
