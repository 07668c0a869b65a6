#include "ui/DeviceScan.h"

#include "ui/MessageService.h"

#include <QComboBox>
#include <QKeyEvent>

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

bool DeviceScan::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_list)
        return false;
    if (event->type() == QEvent::FocusIn) {
        m_typed.clear();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        finish();
        return true;
    }
    if (key->key() == Qt::Key_Backspace) {
        m_typed.chop(1);
        return false;
    }
    const QString text = key->text();
    if (!text.isEmpty() && text.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier)) {
        if (m_typed.isEmpty())
            m_indexBefore = m_list->currentIndex();
        m_typed += text;
    } else {
        // Moving through the list by hand: what was typed is no code.
        m_typed.clear();
    }
    return false;
}

void DeviceScan::finish()
{
    // An editable list holds what was typed in its edit.
    const QString code = m_list->isEditable() ? m_list->currentText().trimmed() : m_typed;
    m_typed.clear();
    if (!code.isEmpty()) {
        const int index = m_list->findText(code, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0) {
            if (!m_list->isEditable())
                m_list->setCurrentIndex(m_indexBefore);
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
