#include "ui/DeviceScan.h"

#include "ui/MessageService.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

namespace vok {

DeviceScan::DeviceScan(QComboBox* list, Chosen chosen)
    : QObject(list), m_list(list), m_chosen(std::move(chosen))
{
    list->installEventFilter(this);
}

DeviceScan* DeviceScan::attach(QComboBox* list, Chosen chosen)
{
    return new DeviceScan(list, std::move(chosen));
}

QString DeviceScan::unknownCodeText(const QString& code)
{
    return QStringLiteral("设备代码中没有设备号“%1”，请核对后重新扫描或输入。").arg(code);
}

namespace {

// A key that only changes what the next key types: a scanner presses Shift
// for every capital letter, so these keys neither end nor start a code.
bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

// The character a key types into a code, or nothing.
QString typedText(const QKeyEvent* key)
{
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return QString();
    const QString text = key->text();
    return !text.isEmpty() && text.at(0).isPrint() ? text : QString();
}

} // namespace

bool DeviceScan::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_list)
        return false;
    switch (event->type()) {
    case QEvent::FocusIn:
        m_typed.clear();
        return false;
    case QEvent::ShortcutOverride:
        // A character of a code is the list's, never a shortcut's.
        if (!typedText(static_cast<QKeyEvent*>(event)).isEmpty())
            event->accept();
        return false;
    case QEvent::KeyPress:
        break;
    default:
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        finish();
        return true;
    }
    if (isModifierKey(key->key()))
        return false;
    if (key->key() == Qt::Key_Backspace) {
        m_typed.chop(1);
        return false;
    }
    const QString text = typedText(key);
    if (text.isEmpty()) {
        // Moving through the list by hand: what was typed is no code.
        m_typed.clear();
        return false;
    }
    m_typed += text;
    // A list without an edit would jump to the first device starting with
    // each key; it stays where it is until Enter names the whole code.
    return !m_list->isEditable();
}

QString DeviceScan::typedCode() const
{
    if (!m_list->isEditable())
        return m_typed;
    // An editable list holds what was typed in its edit, and after it, selected,
    // the rest of the first code that starts so (its completion): that rest
    // was not typed.
    const QLineEdit* edit = m_list->lineEdit();
    QString text = edit->text();
    if (edit->hasSelectedText() && edit->selectionStart() > 0 &&
        edit->selectionEnd() == text.size())
        text.truncate(edit->selectionStart());
    return text.trimmed();
}

void DeviceScan::finish()
{
    const QString code = typedCode();
    m_typed.clear();
    if (!code.isEmpty()) {
        const int index = m_list->findText(code, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0) {
            if (m_list->isEditable())
                m_list->setEditText(code);
            Messages::notice(m_unknownText ? m_unknownText(code) : unknownCodeText(code),
                             m_list->window(), QString(), Messages::Icon::Exclamation);
            return;
        }
        m_list->setCurrentIndex(index);
    }
    if (m_chosen)
        m_chosen();
    focusNextField();
}

void DeviceScan::focusNextField()
{
    for (QWidget* w = m_list->nextInFocusChain(); w && w != m_list; w = w->nextInFocusChain()) {
        // The list's own edit is part of the list.
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled() &&
            !m_list->isAncestorOf(w)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

} // namespace vok
