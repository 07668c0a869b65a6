#pragma once

#include "core/Permission.h"

class QWidget;

namespace vok {

// The two wordings of the refusal: with a line break in the entry forms, the
// device code form, the stock form and the user accounts; without one in the
// record browsers and the purchase plan generation.
enum class RefusalText
{
    WithLineBreak,
    OneLine
};

// Shows "你无权执行此项操作!…" with caption "警告!" and the stop icon.
void showRefusal(RefusalText text, QWidget* parent = nullptr);

// Shows the refusal and returns true when the class may not change data.
bool refuseIfReadOnly(int classNumber, RefusalText text, QWidget* parent = nullptr);

} // namespace vok
