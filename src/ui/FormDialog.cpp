#include "ui/FormDialog.h"

#include <QShowEvent>

namespace vok {

FormDialog::FormDialog(QWidget* parent) : QDialog(parent) {}

void FormDialog::readWhenOpened(std::function<bool()> read)
{
    m_read = std::move(read);
}

bool FormDialog::readOnce()
{
    if (m_reading == Reading::Pending) {
        m_reading = Reading::Done;
        if (m_read && !m_read())
            m_reading = Reading::Failed;
    }
    return m_reading != Reading::Failed;
}

int FormDialog::exec()
{
    // Placed where it is going to show, so that a message of the reading
    // stands over it; the position is worked out again when it shows.
    if (m_reading == Reading::Pending && !testAttribute(Qt::WA_Moved)) {
        adjustPosition(parentWidget());
        setAttribute(Qt::WA_Moved, false);
    }
    if (!readOnce())
        return QDialog::Rejected;
    return QDialog::exec();
}

void FormDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Shown without exec(): a failed reading closes the form once it is up
    // (it cannot be hidden while it is being shown).
    if (!readOnce())
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}

} // namespace vok
