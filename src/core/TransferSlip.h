#pragma once

#include "core/Transfers.h"

#include <QString>

namespace vok {

// The 调拨单 of a transfer as HTML for the printer (ui/HtmlPrint): its id,
// the sending and receiving departments, when and by whom it was sent, the
// lines with code, name, quantity, unit cost and amount, the totals, the
// note, and places for the signatures of 发货人 and 收货人.
QString transferSlipHtml(const transfer::Transfer& t);

} // namespace vok
