#include "forms/CommandTable.h"

#include "login/HelpLauncher.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QWidget>

namespace vok {

CommandTable::CommandTable(QWidget* form) : QObject(form), m_form(form)
{
    form->installEventFilter(this);
}

QPushButton* CommandTable::add(int id, const QString& buttonCaption, const QString& menuText,
                               std::function<void()> handler)
{
    auto* b = new QPushButton(buttonCaption, m_form);
    b->setObjectName(QStringLiteral("control%1").arg(id));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, id] { trigger(id); });
    m_commands.push_back({id, buttonCaption, menuText, std::move(handler), b});
    return b;
}

QPushButton* CommandTable::addHelp(const QString& buttonCaption, const QString& topic)
{
    return add(kHelp, buttonCaption, QStringLiteral("帮助"),
               [topic] { HelpLauncher::open(topic); });
}

void CommandTable::setMenuOrder(std::vector<int> ids)
{
    m_menuOrder = std::move(ids);
    m_hasMenuOrder = true;
    m_menu = true;
}

void CommandTable::noMenu()
{
    m_menu = false;
}

const CommandTable::Command* CommandTable::find(int id) const
{
    for (const Command& c : m_commands)
        if (c.id == id)
            return &c;
    return nullptr;
}

QPushButton* CommandTable::button(int id) const
{
    const Command* c = find(id);
    return c ? c->button : nullptr;
}

void CommandTable::trigger(int id)
{
    const Command* c = find(id);
    if (c && c->handler) {
        // Copy: the handler may close the form and so end the table.
        const auto handler = c->handler;
        handler();
    }
}

QMenu* CommandTable::createMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    std::vector<int> order = m_menuOrder;
    if (!m_hasMenuOrder)
        for (const Command& c : m_commands)
            if (!c.menuText.isEmpty())
                order.push_back(c.id);
    for (int id : order) {
        if (id == kSeparator) {
            menu->addSeparator();
            continue;
        }
        const Command* c = find(id);
        if (!c)
            continue;
        QAction* a = menu->addAction(c->menuText);
        a->setData(id);
        // Queued, so that the menu is gone before the command runs (it may
        // show a box or close the form).
        connect(a, &QAction::triggered, this, [this, id] {
            QMetaObject::invokeMethod(
                this, [this, id] { trigger(id); }, Qt::QueuedConnection);
        });
    }
    return menu;
}

void CommandTable::popup(const QPoint& globalPos)
{
    if (!m_menu)
        return;
    QMenu* menu = createMenu(m_form);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QSize size = menu->sizeHint();
    menu->popup(QPoint(globalPos.x() - size.width() / 2, globalPos.y()));
}

bool CommandTable::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_form && event->type() == QEvent::ContextMenu && m_menu) {
        auto* e = static_cast<QContextMenuEvent*>(event);
        popup(e->globalPos());
        e->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace vok
