#pragma once

#include <QString>

class QWidget;

namespace vok {

// The class number of a class text: its first character read as a decimal
// digit. A text that does not begin with a digit gives the least privilege,
// class 3.
int classNumberOf(const QString& classText);

// Class 3 may change nothing.
inline bool isReadOnlyClass(int classNumber)
{
    return classNumber == 3;
}

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
