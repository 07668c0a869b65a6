#include "ui/CommandTable.h"

#include "core/HelpLauncher.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QWidget>

namespace vok {

CommandTable::CommandTable(QWidget* form) : QObject(form), m_form(form)
{
    form->installEventFilter(this);
}

QPushButton* CommandTable::add(int id, const QString& name, const QString& buttonCaption,
                               const QString& menuText, std::function<void()> handler)
{
    auto* b = new QPushButton(buttonCaption, m_form);
    b->setObjectName(name);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, id] { trigger(id); });
    m_commands.push_back({id, buttonCaption, menuText, std::move(handler), b});
    return b;
}

QPushButton* CommandTable::addHelp(const QString& buttonCaption, const QString& topic)
{
    return add(kHelp, QStringLiteral("help"), buttonCaption, QStringLiteral("帮助"),
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

void CommandTable::addMenuExtra(const QString& menuText, const QKeySequence& shortcut,
                                std::function<void()> handler)
{
    m_extras.push_back({menuText, shortcut.toString(QKeySequence::NativeText), handler});
    if (shortcut.isEmpty())
        return;
    auto* action = new QAction(m_form);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, [handler] { handler(); });
    m_form->addAction(action);
}

QMenu* CommandTable::createMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    std::vector<int> order = m_menu ? m_menuOrder : std::vector<int>{};
    if (m_menu && !m_hasMenuOrder)
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
    if (!m_extras.empty() && !menu->isEmpty())
        menu->addSeparator();
    for (const Extra& e : m_extras) {
        // The shortcut is shown beside the item; the form's action has it.
        QAction* a = menu->addAction(
            e.shortcut.isEmpty() ? e.menuText : e.menuText + QLatin1Char('\t') + e.shortcut);
        const auto handler = e.handler;
        connect(a, &QAction::triggered, this, [this, handler] {
            QMetaObject::invokeMethod(this, handler, Qt::QueuedConnection);
        });
    }
    return menu;
}

void CommandTable::popup(const QPoint& globalPos)
{
    if (!m_menu && m_extras.empty())
        return;
    QMenu* menu = createMenu(m_form);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QSize size = menu->sizeHint();
    menu->popup(QPoint(globalPos.x() - size.width() / 2, globalPos.y()));
}

bool CommandTable::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_form && event->type() == QEvent::ContextMenu &&
        (m_menu || !m_extras.empty())) {
        auto* e = static_cast<QContextMenuEvent*>(event);
        popup(e->globalPos());
        e->accept();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace vok
