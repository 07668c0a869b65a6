#pragma once

#include <QDialog>
#include <functional>

namespace vok {

// A form that reads what it shows when it opens, not while it is built:
// its constructor builds the widgets and hands the first reading to
// readWhenOpened(). The reading runs once, before the form first shows,
// whether it is run modally or only shown. A reading that fails (its error
// shown, false returned) closes the form at once: exec() then returns
// Rejected without showing it.
class FormDialog : public QDialog
{
    Q_OBJECT
public:
    int exec() override;

protected:
    explicit FormDialog(QWidget* parent = nullptr);

    // What the form reads when it opens; false: the form is to close.
    void readWhenOpened(std::function<bool()> read);

    void showEvent(QShowEvent* event) override;

private:
    // Runs the reading the first time it is called; false when it failed.
    bool readOnce();

    std::function<bool()> m_read;
    enum class Reading
    {
        Pending,
        Done,
        Failed
    } m_reading = Reading::Pending;
};

} // namespace vok
