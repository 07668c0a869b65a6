#include "stock/DeviceCodeDlg.h"

#include "stock/LabelDlg.h"

#include "core/DeviceCatalogue.h"
#include "core/TableAccess.h"
#include "core/Tables.h"

#include "db/DbError.h"
#include "db/Schema.h"
#include "ui/ComErrorBox.h"
#include "ui/CommandTable.h"
#include "ui/DialogStyle.h"
#include "ui/FieldExchange.h"
#include "ui/ImportDlg.h"
#include "ui/ListCommands.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"
#include "ui/Refusal.h"
#include "ui/RunChange.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vok {

CDeviceCodeDlg::CDeviceCodeDlg(const FormContext& context, QWidget* parent)
    : FormDialog(parent), m_context(context), m_commands(new CommandTable(this))
{
    setWindowTitle(QStringLiteral("设备代码管理"));
    makeList();
    QGroupBox* queryBox = makeQueryGroup();
    QGroupBox* changeBox = makeChangeGroup();
    QPushButton* help =
        m_commands->addHelp(QStringLiteral("帮　　　　助"), QStringLiteral("devcode.htm"));
    QPushButton* exit =
        m_commands->add(CommandTable::kExit, QStringLiteral("exit"), QStringLiteral("退　　　　出"),
                        QStringLiteral("退出"), [this] { reject(); });
    exit->setDefault(true);
    QPushButton* labels =
        m_commands->add(IDC_LABELS, QStringLiteral("labels"), QStringLiteral("打印标签…"),
                        QStringLiteral("打印标签…"), [this] { onLabels(); });

    m_commands->setMenuOrder({IDC_ADD, IDC_RENAME, IDC_DELETE, IDC_LABELS, CommandTable::kHelp,
                              CommandTable::kExit, CommandTable::kSeparator, IDC_QUERY});
    offerListCommands(*m_commands, *m_list);
    offerImport(*m_commands, tables::deviceCode, m_context, this, [this] { fillWholeCatalogue(); });

    auto* right = new QVBoxLayout;
    right->addWidget(queryBox);
    right->addWidget(changeBox);
    right->addStretch(1);
    auto* closeButtons = new QHBoxLayout;
    closeButtons->addWidget(labels);
    closeButtons->addWidget(help);
    closeButtons->addWidget(exit);
    right->addLayout(closeButtons);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(right, 1);
    resize(620, 400);

    // Tab order: the list, the change group, the query group, help, exit.
    const QList<QWidget*> order{m_list,
                                m_code,
                                m_name,
                                m_commands->button(IDC_ADD),
                                m_commands->button(IDC_RENAME),
                                m_commands->button(IDC_DELETE),
                                m_queryField,
                                m_queryValue,
                                m_commands->button(IDC_QUERY),
                                labels,
                                help,
                                exit};
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));

    readWhenOpened([this] {
        fillWholeCatalogue();
        return true;
    });
}

QList<DeviceLabel> CDeviceCodeDlg::labelsToPrint() const
{
    const RecordListModel& rows = *m_list->records();
    QList<int> chosen;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        chosen << index.row();
    std::sort(chosen.begin(), chosen.end());
    if (chosen.isEmpty()) {
        // Every listed row, those not read yet included.
        const int n = rows.countAll();
        for (int row = 0; row < n; ++row)
            chosen << row;
    }
    QList<DeviceLabel> labels;
    for (int row : chosen)
        labels << DeviceLabel{rows.text(row, 0), rows.text(row, 1)};
    return labels;
}

void CDeviceCodeDlg::onLabels()
{
    const QList<DeviceLabel> labels = labelsToPrint();
    if (labels.isEmpty()) {
        Messages::notice(QStringLiteral("列表中没有设备，没有可打印的标签。"), this);
        return;
    }
    CLabelDlg(labels, this).exec();
}

void CDeviceCodeDlg::makeList()
{
    m_list = new RecordListView({{QStringLiteral("设备号"), ListColumn::Text},
                                 {QStringLiteral("设备名"), ListColumn::Text}},
                                this);
    m_list->setObjectName(QStringLiteral("list"));
    // Several rows may be chosen for their labels.
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setColumnShares({1, 1}, 2);
    // The list takes the left part of the form; its two columns fill its
    // outer width, so a horizontal scroll bar would only scroll the frame.
    m_list->setFixedWidth(260);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(m_list, &RecordListView::rowChosen, this, &CDeviceCodeDlg::onRowChosen);
}

QGroupBox* CDeviceCodeDlg::makeQueryGroup()
{
    // Field, value, button.
    auto* queryBox = new QGroupBox(QStringLiteral("查询"), this);
    m_queryField = new QComboBox(queryBox);
    m_queryField->setObjectName(QStringLiteral("queryField"));
    m_queryField->setEditable(true);
    m_queryField->setInsertPolicy(QComboBox::InsertAlphabetically);
    for (const QueryField& f : tables::deviceCode.queryFields)
        m_queryField->addItem(f.text.toString());
    m_queryField->setCurrentIndex(-1);
    m_queryField->setEditText(QString());
    m_queryValue = new QLineEdit(queryBox);
    m_queryValue->setObjectName(QStringLiteral("queryValue"));
    QPushButton* query =
        m_commands->add(IDC_QUERY, QStringLiteral("query"), QStringLiteral("查　　询"),
                        QStringLiteral("查询"), [this] { onQuery(); });
    auto* queryRows = new QFormLayout(queryBox);
    queryRows->addRow(QStringLiteral("选择的项"), m_queryField);
    queryRows->addRow(QStringLiteral("＝选择的内容"), m_queryValue);
    queryRows->addRow(query);
    return queryBox;
}

QGroupBox* CDeviceCodeDlg::makeChangeGroup()
{
    // Code, name and the three change buttons.
    auto* changeBox = new QGroupBox(QStringLiteral("操作"), this);
    m_code = new QLineEdit(changeBox);
    m_code->setObjectName(QStringLiteral("code"));
    m_name = new QLineEdit(changeBox);
    m_name->setObjectName(QStringLiteral("name"));
    limitText(m_code, tables::deviceCode, DeviceCodeCol::code);
    limitText(m_name, tables::deviceCode, DeviceCodeCol::name);
    QPushButton* add = m_commands->add(IDC_ADD, QStringLiteral("add"), QStringLiteral("新　增"),
                                       QStringLiteral("新增"), [this] { onAdd(); });
    QPushButton* rename =
        m_commands->add(IDC_RENAME, QStringLiteral("rename"), QStringLiteral("修　改"),
                        QStringLiteral("修改"), [this] { onRename(); });
    QPushButton* remove =
        m_commands->add(IDC_DELETE, QStringLiteral("delete"), QStringLiteral("删　除"),
                        QStringLiteral("删除"), [this] { onDelete(); });
    auto* changeRows = new QFormLayout(changeBox);
    changeRows->addRow(QStringLiteral("设备号"), m_code);
    changeRows->addRow(QStringLiteral("设备名"), m_name);
    auto* changeButtons = new QHBoxLayout;
    changeButtons->addWidget(add);
    changeButtons->addWidget(rename);
    changeButtons->addWidget(remove);
    changeRows->addRow(changeButtons);
    return changeBox;
}

void CDeviceCodeDlg::fillWholeCatalogue()
{
    m_list->fill(*m_context.connection, TableRows{tables::deviceCode.name()});
}

bool CDeviceCodeDlg::refuse(const QString& problem)
{
    if (problem.isEmpty())
        return false;
    Messages::notice(problem, this, QString(), Messages::Icon::Exclamation);
    return true;
}

void CDeviceCodeDlg::onRowChosen(int row)
{
    const QStringList texts = m_list->records()->rowTexts(row);
    m_code->setText(texts.value(0));
    m_name->setText(texts.value(1));
}

void CDeviceCodeDlg::onAdd()
{
    // A code or name that does not fit the catalogue's row record is
    // refused, so that no code is ever cut into a different one.
    QString code, name;
    FieldExchange dx(this);
    dx.text(m_code, code, tables::deviceCode, DeviceCodeCol::code);
    dx.text(m_name, name, tables::deviceCode, DeviceCodeCol::name);
    if (!dx.ok())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    // A blank code or one the catalogue holds already is refused.
    QString problem;
    if (!runChange(this, [&] { problem = codeToAddProblem(*m_context.connection, code); }) ||
        refuse(problem))
        return;
    if (!runChange(
            this, [&] { addDeviceCode(*m_context.connection, m_context.classNumber, code, name); }))
        return;
    // The code as stored, without the blanks typed around it.
    m_code->setText(codeAsStored(code));
    writeLog(m_context, QStringLiteral("添加设备记录。"), this);
    Messages::notice(QStringLiteral("完成添加设备记录操作!"), this, QStringLiteral("提示!"),
                     Messages::Icon::Question);
    fillWholeCatalogue();
}

void CDeviceCodeDlg::onRename()
{
    // The code only finds the row; the new name must fit.
    QString code, name;
    FieldExchange dx(this);
    dx.text(m_code, code);
    dx.text(m_name, name, tables::deviceCode, DeviceCodeCol::name);
    if (!dx.ok())
        return;
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    if (refuse(codeToRenameProblem(code)))
        return;
    if (!runChange(this, [&] {
            renameDeviceCode(*m_context.connection, m_context.classNumber, code, name);
        }))
        return;
    Messages::notice(QStringLiteral("完成修改设备记录操作!"), this, QStringLiteral("提示!"),
                     Messages::Icon::Question);
    writeLog(m_context, QStringLiteral("更新设备记录。"), this);
    fillWholeCatalogue();
}

void CDeviceCodeDlg::onDelete()
{
    const QString code = m_code->text();
    if (refuseIfReadOnly(m_context.classNumber, RefusalText::WithLineBreak, this))
        return;
    if (!runChange(this,
                   [&] { deleteDeviceCode(*m_context.connection, m_context.classNumber, code); }))
        return;
    writeLog(m_context, QStringLiteral("删除设备记录。"), this);
    Messages::notice(QStringLiteral("完成删除设备记录操作!"), this, QStringLiteral("提示!"),
                     Messages::Icon::Question);
    fillWholeCatalogue();
}

void CDeviceCodeDlg::onQuery()
{
    // The comparison is always equality; a field that is neither entry is
    // refused in the COM error box and empties the list.
    TableRows rows;
    try {
        const auto query =
            TableAccess(*m_context.connection, tables::deviceCode)
                .query(m_queryField->currentText(), QStringLiteral("="), m_queryValue->text());
        if (!query)
            throw DbError(
                DbError::Kind::BadInput,
                QStringLiteral("“%1”不是可以查询的项。").arg(m_queryField->currentText()));
        rows = *query;
    } catch (const DbError& e) {
        m_list->records()->clear();
        showComError(e, this);
        return;
    }
    m_list->fill(*m_context.connection, rows);
}

} // namespace vok
