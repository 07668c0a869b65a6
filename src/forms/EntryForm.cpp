#include "forms/EntryForm.h"

#include "forms/CommandTable.h"
#include "forms/FieldExchange.h"
#include "forms/RunChange.h"
#include "login/Clock.h"
#include "login/MessageService.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace vok {

namespace {

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
    : QDialog(parent), m_context(context), m_group(new QGroupBox(groupCaption, this)),
      m_rows(new QFormLayout(m_group)), m_commands(new CommandTable(this))
{
    setWindowTitle(title);
    m_group->setObjectName(QStringLiteral("inputGroup"));
    m_rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_rows->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_group);
    setMinimumWidth(360);
}

QComboBox* EntryForm::addDeviceList(int id, const QString& label)
{
    m_deviceList = new QComboBox(m_group);
    m_deviceList->setObjectName(QStringLiteral("control%1").arg(id));
    m_deviceList->setEditable(false);
    addRow(label, m_deviceList);
    return m_deviceList;
}

void EntryForm::addTimePickers(int dateId, int timeId, const QString& label)
{
    const QDateTime now = Clock::now();
    m_datePicker = new OneStopPicker<QDateEdit>(now.date(), m_group);
    m_datePicker->setObjectName(QStringLiteral("control%1").arg(dateId));
    m_datePicker->setDisplayFormat(QStringLiteral("yyyy-M-d"));
    m_datePicker->setMinimumDate(QDate(1753, 1, 1));
    m_datePicker->setCalendarPopup(false);
    m_timePicker = new OneStopPicker<QTimeEdit>(now.time(), m_group);
    m_timePicker->setObjectName(QStringLiteral("control%1").arg(timeId));
    m_timePicker->setDisplayFormat(QStringLiteral("H:mm:ss"));
    m_datePicker->setAccessibleName(label + QStringLiteral(" 日期"));
    m_timePicker->setAccessibleName(label + QStringLiteral(" 时间"));
    auto* row = new QHBoxLayout;
    row->addWidget(m_datePicker, 1);
    row->addWidget(m_timePicker, 1);
    auto* l = new QLabel(label, m_group);
    l->setBuddy(m_datePicker);
    m_rows->addRow(l, row);
}

QLineEdit* EntryForm::addEdit(int id, const QString& label, const QString& initial)
{
    auto* edit = new QLineEdit(initial, m_group);
    edit->setObjectName(QStringLiteral("control%1").arg(id));
    addRow(label, edit);
    return edit;
}

QLineEdit* EntryForm::addEdit(int id, const QString& label, const TableDef& table, int column)
{
    QLineEdit* edit = addEdit(id, label);
    limitText(edit, table, column);
    return edit;
}

void EntryForm::addRow(const QString& label, QWidget* field)
{
    auto* l = new QLabel(label, m_group);
    l->setBuddy(field);
    m_rows->addRow(l, field);
}

void EntryForm::addButtons(int confirmId, const QString& helpTopic)
{
    QPushButton* ok = m_commands->add(confirmId, QStringLiteral("确　认"), QStringLiteral("确认"),
                                      [this] { confirm(); });
    QPushButton* help = m_commands->addHelp(QStringLiteral("帮　助"), helpTopic);
    QPushButton* exit = m_commands->add(kExit, QStringLiteral("退　出"), QStringLiteral("退出"),
                                        [this] { reject(); });
    exit->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addWidget(ok);
    row->addWidget(help);
    row->addWidget(exit);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

QStringList catalogueCodes(Connection& connection)
{
    QStringList codes;
    auto rows = connection.query(QStringLiteral("SELECT * FROM DEVICE_CODE"));
    while (rows->next())
        if (!rows->isNull(0))
            codes << rows->text(0);
    std::sort(codes.begin(), codes.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return codes;
}

bool EntryForm::fillDeviceList()
{
    QStringList codes;
    m_filled = runChange(this, [&] { codes = catalogueCodes(connection()); });
    if (!m_filled)
        return false;
    m_deviceList->addItems(codes);
    m_deviceList->setCurrentIndex(-1);
    return true;
}

int EntryForm::exec()
{
    if (!m_filled)
        return QDialog::Rejected;
    return QDialog::exec();
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

void EntryForm::completeEntry(const QString& logText)
{
    Messages::notice(QStringLiteral("完成操作！"), this);
    m_context.writeLog(logText);
    done(0);
}

} // namespace vok
