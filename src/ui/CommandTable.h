#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class QKeySequence;
class QMenu;
class QPoint;
class QPushButton;
class QWidget;

namespace vok {

// A form's commands, declared once: each with its id, the object name of its
// button (what it does: "confirm", "delete"), the caption
// of its button, the text of its context-menu item and what it does. The
// buttons and the right-button popup menu are both made from this table,
// so a button and its menu item always do the same thing.
class CommandTable : public QObject
{
public:
    // The help and exit commands most forms have ("help", "exit").
    static constexpr int kHelp = 1168;
    static constexpr int kExit = 2;
    // A separator in a menu order.
    static constexpr int kSeparator = 0;

    // Right-button clicks anywhere in the form (outside controls that have
    // a menu of their own, such as edits) open the popup menu.
    explicit CommandTable(QWidget* form);

    // Declares a command and makes its button, named name. An empty menu
    // text keeps the command out of the context menu.
    QPushButton* add(int id, const QString& name, const QString& buttonCaption,
                     const QString& menuText, std::function<void()> handler);
    // The help command ("help"): opens the form's help topic through the
    // help launcher.
    QPushButton* addHelp(const QString& buttonCaption, const QString& topic);

    // The order of the context menu's items, kSeparator for a line. Without
    // it the menu lists the commands that have a menu text in the order
    // they were declared. An empty order with noMenu() means no menu.
    void setMenuOrder(std::vector<int> ids);
    void noMenu();

    // A command of the menu only, listed after the form's own items behind
    // a separator (alone in the menu of a form without one), with a
    // keyboard shortcut that works anywhere in the form.
    void addMenuExtra(const QString& menuText, const QKeySequence& shortcut,
                      std::function<void()> handler);

    QPushButton* button(int id) const;
    // Runs a command as its button or menu item would.
    void trigger(int id);

    // A new popup menu of the form's commands, owned by parent.
    QMenu* createMenu(QWidget* parent);
    // Opens the popup at a global position, horizontally centred on it.
    void popup(const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Command
    {
        int id;
        QString caption;
        QString menuText;
        std::function<void()> handler;
        QPushButton* button;
    };
    const Command* find(int id) const;

    QWidget* m_form;
    std::vector<Command> m_commands;
    struct Extra
    {
        QString menuText;
        QString shortcut;
        std::function<void()> handler;
    };
    std::vector<Extra> m_extras;
    std::vector<int> m_menuOrder;
    bool m_hasMenuOrder = false;
    bool m_menu = true;
};

} // namespace vok
