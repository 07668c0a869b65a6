#include "ui/EntryForm.h"

#include "core/DeviceCatalogue.h"

#include "core/Clock.h"
#include "core/PeriodSummary.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DeviceScan.h"
#include "ui/DialogStyle.h"
#include "ui/FieldExchange.h"
#include "ui/MessageService.h"
#include "ui/RunChange.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace vok {

namespace {

// The device list: tells the form each time its drop-down closes, once the
// choice made in it has been taken (the selection arrives after the popup
// is hidden, hence the call from the event loop).
class DeviceList : public QComboBox
{
public:
    DeviceList(std::function<void()> closedUp, QWidget* parent)
        : QComboBox(parent), m_closedUp(std::move(closedUp))
    {
    }

    void hidePopup() override
    {
        const bool open = view() && view()->isVisible();
        QComboBox::hidePopup();
        if (open)
            QTimer::singleShot(0, this, m_closedUp);
    }

private:
    std::function<void()> m_closedUp;
};

// A button caption: the word's two characters with gap ideographic spaces.
QString spaced(const QString& word, int gap)
{
    return word.left(1) + QString(gap, QChar(0x3000)) + word.mid(1);
}

// A date or time picker that Tab leaves at once instead of walking through
// its sections.
template <class Picker> class OneStopPicker : public Picker
{
public:
    using Picker::Picker;

protected:
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

} // namespace

EntryForm::EntryForm(const FormContext& context, const QString& title, const QString& groupCaption,
                     QWidget* parent)
    : FormDialog(parent), m_context(context),
      m_group(groupCaption.isEmpty() ? new QWidget(this) : new QGroupBox(groupCaption, this)),
      m_rows(new QGridLayout(m_group)), m_layout(new QGridLayout(this)),
      m_commands(new CommandTable(this))
{
    setWindowTitle(title);
    m_group->setObjectName(QStringLiteral("inputGroup"));
    if (groupCaption.isEmpty())
        m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setColumnStretch(1, 1);
    m_rows->setColumnStretch(3, 1);
    m_layout->addWidget(m_group, 1, 0);
    setMinimumWidth(360);
    readWhenOpened([this] { return fillDeviceList(); });
}

QLabel* EntryForm::makeLabel(const QString& text, QWidget* buddy)
{
    auto* l = new QLabel(text, m_group);
    l->setBuddy(buddy);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

QComboBox* EntryForm::makeDeviceList()
{
    m_deviceList = new DeviceList([this] { deviceListClosedUp(); }, m_group);
    m_deviceList->setObjectName(QStringLiteral("device"));
    m_deviceList->setEditable(false);
    DeviceScan::attach(m_deviceList, [this] { deviceListClosedUp(); });
    return m_deviceList;
}

QComboBox* EntryForm::addDeviceList(const QString& label)
{
    makeDeviceList();
    m_deviceName = makeFigure(QStringLiteral("deviceName"), QString());
    m_deviceName->setAccessibleName(QStringLiteral("设备名称"));
    m_deviceName->setFocusPolicy(Qt::NoFocus);
    const int r = m_rows->rowCount();
    m_rows->addWidget(makeLabel(label, m_deviceList), r, 0);
    m_rows->addWidget(m_deviceList, r, 1);
    m_rows->addWidget(m_deviceName, r, 2, 1, 2);
    connect(m_deviceList, &QComboBox::currentIndexChanged, this, [this] { showDeviceName(); });
    return m_deviceList;
}

void EntryForm::showDeviceName()
{
    const QString code = m_deviceList->currentIndex() >= 0 ? lookUpCode() : QString();
    QString name;
    if (!code.isEmpty() && !runChange(this, [&] { name = deviceName(connection(), code); }))
        return;
    m_deviceName->setText(name);
    m_deviceName->setCursorPosition(0);
}

void EntryForm::addTimePickers(const QString& label, DateKind kind)
{
    const QDateTime now = Clock::now();
    m_datePicker = new OneStopPicker<QDateEdit>(now.date(), m_group);
    m_datePicker->setObjectName(QStringLiteral("date"));
    m_datePicker->setDisplayFormat(QStringLiteral("yyyy-M-d"));
    m_datePicker->setMinimumDate(QDate(1753, 1, 1));
    m_datePicker->setCalendarPopup(kind == DateKind::Calendar);
    m_timePicker = new OneStopPicker<QTimeEdit>(now.time(), m_group);
    m_timePicker->setObjectName(QStringLiteral("time"));
    m_timePicker->setDisplayFormat(QStringLiteral("H:mm:ss"));
    m_datePicker->setAccessibleName(label + QStringLiteral(" 日期"));
    m_timePicker->setAccessibleName(label + QStringLiteral(" 时间"));
    auto* row = new QHBoxLayout;
    row->addWidget(m_datePicker, 1);
    row->addWidget(m_timePicker, 1);
    const int r = m_rows->rowCount();
    m_rows->addWidget(makeLabel(label, m_datePicker), r, 0);
    m_rows->addLayout(row, r, 1, 1, 3);
}

QLineEdit* EntryForm::makeEdit(const QString& name, const QString& initial)
{
    auto* edit = new QLineEdit(initial, m_group);
    edit->setObjectName(name);
    return edit;
}

QLineEdit* EntryForm::addEdit(const QString& name, const QString& label, const QString& initial)
{
    QLineEdit* edit = makeEdit(name, initial);
    addRow(label, edit);
    return edit;
}

QPlainTextEdit* EntryForm::addMultiLineEdit(const QString& name, const QString& label)
{
    auto* edit = new QPlainTextEdit(m_group);
    edit->setObjectName(name);
    edit->setTabChangesFocus(true);
    edit->setFixedHeight(edit->fontMetrics().lineSpacing() * 3 +
                         2 * (edit->frameWidth() + int(edit->document()->documentMargin())));
    addRow(label, edit);
    return edit;
}

QDateEdit* EntryForm::addDatePicker(const QString& name, const QString& label)
{
    auto* picker = new OneStopPicker<QDateEdit>(Clock::now().date(), m_group);
    picker->setObjectName(name);
    picker->setDisplayFormat(QStringLiteral("yyyy-M-d"));
    picker->setMinimumDate(QDate(1753, 1, 1));
    picker->setCalendarPopup(true);
    picker->setAccessibleName(label);
    addRow(label, picker);
    return picker;
}

QLineEdit* EntryForm::addFigure(const QString& name, const QString& label)
{
    QLineEdit* edit = makeFigure(name);
    addRow(label, edit);
    return edit;
}

QLineEdit* EntryForm::makeFigure(const QString& name, const QString& initial)
{
    QLineEdit* edit = makeEdit(name, initial);
    showReadOnly(edit);
    return edit;
}

QLineEdit* EntryForm::addEdit(const QString& name, const QString& label,
                              const TableDescription& table, int column)
{
    QLineEdit* edit = addEdit(name, label);
    limitText(edit, table, column);
    return edit;
}

void EntryForm::addRow(const QString& label, QWidget* field)
{
    const int r = m_rows->rowCount();
    // A check box carries its own caption.
    if (!label.isEmpty())
        m_rows->addWidget(makeLabel(label, field), r, 0);
    m_rows->addWidget(field, r, 1, 1, 3);
}

void EntryForm::addPair(const QString& label, QWidget* field, const QString& label2,
                        QWidget* field2)
{
    const int r = m_rows->rowCount();
    m_rows->addWidget(makeLabel(label, field), r, 0);
    m_rows->addWidget(field, r, 1);
    m_rows->addWidget(makeLabel(label2, field2), r, 2);
    m_rows->addWidget(field2, r, 3);
}

void EntryForm::addHeading(const QString& text)
{
    auto* heading = new QLabel(text, this);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setAlignment(Qt::AlignCenter);
    QFont f = heading->font();
    f.setPointSizeF(f.pointSizeF() * 1.5);
    f.setBold(true);
    heading->setFont(f);
    m_layout->addWidget(heading, 0, 0, 1, 2);
}

void EntryForm::addButtons(int confirmId, const QString& helpTopic, ButtonPlacement placement,
                           const QString& confirmWord, int gap)
{
    QPushButton* ok = m_commands->add(confirmId, QStringLiteral("confirm"),
                                      spaced(confirmWord, gap), confirmWord, [this] { confirm(); });
    QPushButton* help = m_commands->addHelp(spaced(QStringLiteral("帮助"), gap), helpTopic);
    QPushButton* exit = m_commands->add(CommandTable::kExit, QStringLiteral("exit"),
                                        spaced(QStringLiteral("退出"), gap), QStringLiteral("退出"),
                                        [this] { reject(); });
    exit->setDefault(true);
    QBoxLayout* buttons = nullptr;
    if (placement == ButtonPlacement::Below) {
        buttons = new QHBoxLayout;
        m_layout->addLayout(buttons, 2, 0);
    } else {
        buttons = new QVBoxLayout;
        m_layout->addLayout(buttons, 1, 1);
    }
    buttons->addWidget(ok);
    buttons->addWidget(help);
    buttons->addWidget(exit);
    if (placement == ButtonPlacement::Right)
        buttons->addStretch(1);
}

bool EntryForm::fillDeviceList()
{
    QStringList codes;
    if (!runChange(this, [&] { codes = catalogueCodes(connection()); }))
        return false;
    m_deviceList->addItems(codes);
    m_deviceList->setCurrentIndex(-1);
    return true;
}

QString EntryForm::discardQuestion()
{
    return QStringLiteral("放弃尚未确认的输入吗？");
}

QStringList EntryForm::inputs() const
{
    QStringList held;
    for (const QWidget* w : m_group->findChildren<QWidget*>()) {
        if (const auto* edit = qobject_cast<const QLineEdit*>(w)) {
            if (!edit->isReadOnly())
                held << edit->text();
        } else if (const auto* text = qobject_cast<const QPlainTextEdit*>(w)) {
            held << text->toPlainText();
        } else if (const auto* list = qobject_cast<const QComboBox*>(w)) {
            held << list->currentText();
        } else if (const auto* picker = qobject_cast<const QDateTimeEdit*>(w)) {
            held << picker->dateTime().toString(Qt::ISODate);
        }
    }
    return held;
}

void EntryForm::showEvent(QShowEvent* event)
{
    FormDialog::showEvent(event);
    // The form as it opened, its device list filled.
    if (!m_opened) {
        m_opened = true;
        m_openedInputs = inputs();
    }
}

void EntryForm::keyPressEvent(QKeyEvent* event)
{
    // Enter that reaches the form presses its default button, which closes
    // it: typed input is not thrown away without a question.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && m_opened &&
        inputs() != m_openedInputs &&
        Messages::show(discardQuestion(), QString(), Messages::Icon::Question,
                       Messages::Buttons::YesNo, this) != Messages::Answer::Yes) {
        event->accept();
        return;
    }
    FormDialog::keyPressEvent(event);
}

bool EntryForm::deviceChosen()
{
    if (m_deviceList->currentIndex() >= 0)
        return true;
    Messages::notice(QStringLiteral("请选择一个设备"), this);
    return false;
}

QString EntryForm::entryTime() const
{
    return unpaddedDateTime(QDateTime(m_datePicker->date(), m_timePicker->time()));
}

bool EntryForm::refuseClosedMonth(const QString& time)
{
    QString refusal;
    if (!runChange(this, [&] { refusal = PeriodClose::refusalFor(connection(), time); }))
        return true;
    if (refusal.isEmpty())
        return false;
    Messages::notice(refusal, this, QStringLiteral("警告!"), Messages::Icon::Exclamation);
    return true;
}

QString EntryForm::lookUpCode() const
{
    return m_deviceList->currentText().left(63);
}

void EntryForm::completeEntry(const QString& logText)
{
    Messages::notice(QStringLiteral("完成操作！"), this);
    writeLog(m_context, logText, this);
    done(0);
}

} // namespace vok
