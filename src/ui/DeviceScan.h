#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QComboBox;

namespace vok {

// Lets a hand scanner choose a device in a device list. A scanner is a
// keyboard: it types the code, then Enter, pressing Shift for capitals.
// While the list has the focus, the characters typed since it got the focus
// (or since the last Enter) are the code, and a list without an edit does
// not move while they come; Enter chooses the device of exactly that code, tells the
// form (chosen) and moves the focus to the next field; a completion the
// list offers is not taken. A code that is not
// in the list is named in a message and the list is left as it was. Enter
// on the list never reaches the form's default button, so it never closes
// the form; with nothing typed it takes the device shown and moves on. In a
// list with an edit the code is the edit's text.
class DeviceScan : public QObject
{
    Q_OBJECT
public:
    using Chosen = std::function<void()>;
    // The scanner belongs to the list and goes with it.
    static DeviceScan* attach(QComboBox* list, Chosen chosen = {});

    // The message for a code the catalogue does not hold.
    static QString unknownCodeText(const QString& code);
    // A list of some devices only says so in its own words.
    void setUnknownCodeText(std::function<QString(const QString& code)> text)
    {
        m_unknownText = std::move(text);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DeviceScan(QComboBox* list, Chosen chosen);
    QString typedCode() const;
    void finish();
    void focusNextField();

    QComboBox* m_list;
    Chosen m_chosen;
    std::function<QString(const QString& code)> m_unknownText;
    QString m_typed;
};

} // namespace vok
