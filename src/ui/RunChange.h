#pragma once

#include <functional>

class QWidget;

namespace vok {

// Runs one database change of a form. A DbError is shown in the COM error
// box over the form and false returned; the change's own ending (log entry,
// notice, refill) is the caller's, in the order the form needs:
//
//     if (!runChange(this, [&] {
//             addDeviceCode(*m_context.connection, m_context.classNumber, code, name);
//         }))
//         return;
//     writeLog(m_context, QStringLiteral("添加设备记录。"), this);
//     Messages::notice(QStringLiteral("完成添加设备记录操作!"), this);
//     refill();
bool runChange(QWidget* form, const std::function<void()>& change);

} // namespace vok
