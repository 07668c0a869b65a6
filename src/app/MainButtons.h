#pragma once

#include "core/FormContext.h"

#include <QDialog>
#include <QKeySequence>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace vok {

class CVOKDlg;

// The four frames of the main window.
enum class ButtonGroup
{
    Operations,
    Queries,
    Other,
    System
};

// Makes one form for the main window to run modally.
using FormFactory =
    std::function<std::unique_ptr<QDialog>(const FormContext& context, QWidget* parent)>;
// What a button that opens no form does with the main window.
using WindowAction = std::function<void(CVOKDlg& window)>;

// One function button of the main window. A row with neither a factory nor
// an action is not shown.
struct MainButton
{
    // The button's object name: what it opens or does.
    QStringView name;
    ButtonGroup group = ButtonGroup::System;
    QString caption;
    // Refused while the user was found only in another department.
    bool refusedOutsideOwnDepartment = false;
    // The form is given the user name.
    bool handsUserName = false;
    // The form is given the main window's operation log (all but the log
    // browser).
    bool handsLog = true;
    FormFactory factory;
    WindowAction action;
    // A key that presses the button from anywhere in the main window.
    QKeySequence shortcut = {};
};

// A factory for a form class constructed from (const FormContext&, QWidget*).
template <typename Form> FormFactory makeForm()
{
    return [](const FormContext& context, QWidget* parent) -> std::unique_ptr<QDialog> {
        return std::make_unique<Form>(context, parent);
    };
}

// The main window's buttons, in the order they are shown in their frames.
std::vector<MainButton> mainButtons();

} // namespace vok
