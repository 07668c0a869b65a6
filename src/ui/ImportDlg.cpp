#include "ui/ImportDlg.h"

#include "core/ImportReader.h"
#include "db/DbError.h"
#include "ui/CommandTable.h"
#include "ui/FileDialogService.h"
#include "ui/MessageService.h"
#include "ui/RecordListView.h"
#include "ui/Refusal.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vok {

namespace {

// The folder of the last file imported, where the next choice starts.
QString& lastFolder()
{
    static QString folder;
    return folder;
}

// A progress dialog of one step of the import, cancel included.
class Progress
{
public:
    Progress(const QString& text, QWidget* parent)
        : m_dialog(text, QStringLiteral("取消"), 0, 1000, parent)
    {
        m_dialog.setWindowTitle(QStringLiteral("导入"));
        m_dialog.setObjectName(QStringLiteral("importProgress"));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(300);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
    }
    ImportProgress report()
    {
        return [this](qint64 done, qint64 total) {
            m_dialog.setValue(total > 0 ? int(done * 1000 / total) : 1000);
            return !m_dialog.wasCanceled();
        };
    }

private:
    QProgressDialog m_dialog;
};

} // namespace

CImportDlg::CImportDlg(TableImport& import, const FormContext& context, QWidget* parent)
    : QDialog(parent), m_import(import), m_context(context)
{
    setWindowTitle(QStringLiteral("导入%1").arg(import.title()));
    setObjectName(QStringLiteral("importPreview"));
    auto* layout = new QVBoxLayout(this);
    auto* file =
        new QLabel(QStringLiteral("文件：%1（%2）")
                       .arg(QDir::toNativeSeparators(import.fileName()), import.fileKind()),
                   this);
    file->setObjectName(QStringLiteral("file"));
    layout->addWidget(file);

    // Which column of the file goes into each column of the table.
    auto* mapping = new QFormLayout;
    const QStringList headings = import.fileHeadings();
    for (int c = 0; c < int(import.mapping().size()); ++c) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(QStringLiteral("column%1").arg(c));
        combo->addItem(QStringLiteral("（不导入）"));
        for (int f = 0; f < headings.size(); ++f)
            combo->addItem(QStringLiteral("%1列 %2").arg(sheetColumnName(f), headings.at(f)));
        combo->setCurrentIndex(import.mapping()[size_t(c)] + 1);
        auto* label =
            new QLabel(import.columnHeading(c) +
                           (import.isRequired(c) ? QStringLiteral("（必需）") : QString()),
                       this);
        label->setBuddy(combo);
        mapping->addRow(label, combo);
        connect(combo, &QComboBox::activated, this,
                [this, c](int index) { mappingChanged(c, index); });
        m_columns.push_back(combo);
    }
    layout->addLayout(mapping);
    if (const QString byHand = import.matchedByHand(); !byHand.isEmpty()) {
        auto* remembered = new QLabel(
            QStringLiteral("按上次的选择对应：%1").arg(QString(byHand).replace(u',', u'；')), this);
        remembered->setObjectName(QStringLiteral("remembered"));
        remembered->setWordWrap(true);
        layout->addWidget(remembered);
    }

    m_ignored = new QLabel(this);
    m_ignored->setObjectName(QStringLiteral("ignored"));
    m_ignored->setWordWrap(true);
    layout->addWidget(m_ignored);
    if (!import.note().isEmpty()) {
        auto* note = new QLabel(import.note(), this);
        note->setObjectName(QStringLiteral("note"));
        note->setWordWrap(true);
        layout->addWidget(note);
    }

    auto* previewLabel = new QLabel(QStringLiteral("前几行（按写入的样子）："), this);
    m_preview = new QTableWidget(this);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_preview->verticalHeader()->hide();
    previewLabel->setBuddy(m_preview);
    layout->addWidget(previewLabel);
    layout->addWidget(m_preview, 2);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("summary"));
    auto* problemsLabel = new QLabel(QStringLiteral("问题："), this);
    m_problems = new QListWidget(this);
    m_problems->setObjectName(QStringLiteral("problems"));
    problemsLabel->setBuddy(m_problems);
    layout->addWidget(m_summary);
    layout->addWidget(problemsLabel);
    layout->addWidget(m_problems, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_confirm = buttons->addButton(QStringLiteral("导入"), QDialogButtonBox::AcceptRole);
    m_confirm->setObjectName(QStringLiteral("confirm"));
    QPushButton* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(m_confirm, &QPushButton::clicked, this, &CImportDlg::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_confirm->setEnabled(false);
    resize(760, 600);
}

bool CImportDlg::load()
{
    QString failure;
    {
        // Over the form that asked until the preview is shown.
        Progress progress(
            QStringLiteral("正在检查“%1”…").arg(QFileInfo(m_import.fileName()).fileName()),
            isVisible() ? this : parentWidget());
        try {
            m_import.check(*m_context.connection, progress.report());
        } catch (const DbError& e) {
            failure = e.text();
        }
    }
    showOutcome();
    if (!failure.isEmpty())
        Messages::show(QStringLiteral("无法导入：\r\n%1").arg(failure), QString(),
                       Messages::Icon::Exclamation, Messages::Buttons::Ok, this);
    return failure.isEmpty();
}

void CImportDlg::mappingChanged(int tableColumn, int index)
{
    m_import.setMapping(tableColumn, index - 1);
    // Kept for the next import into the table.
    TableImport::rememberColumns(m_import.table(), m_import.matchedByHand());
    load();
}

void CImportDlg::showOutcome()
{
    const QStringList ignored = m_import.ignoredHeadings();
    m_ignored->setText(
        ignored.isEmpty()
            ? QString()
            : QStringLiteral("这些列不导入：%1").arg(ignored.join(QStringLiteral("、"))));
    m_ignored->setVisible(!ignored.isEmpty());

    const QList<QStringList> rows = m_import.preview();
    const int tableColumns = int(m_import.mapping().size());
    const int columns = tableColumns + (m_import.hasOpeningPrice() ? 1 : 0);
    m_preview->clear();
    m_preview->setColumnCount(columns);
    m_preview->setRowCount(int(rows.size()));
    QStringList headings;
    for (int c = 0; c < tableColumns; ++c)
        headings << m_import.columnHeading(c);
    if (m_import.hasOpeningPrice())
        headings << QStringLiteral("单价");
    m_preview->setHorizontalHeaderLabels(headings);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < columns; ++c)
            m_preview->setItem(r, c, new QTableWidgetItem(rows.at(r).value(c)));
    m_preview->resizeColumnsToContents();

    m_problems->clear();
    for (const ImportProblem& p : m_import.problems())
        m_problems->addItem(p.describe());
    const qint64 more = m_import.problemCount() - qint64(m_import.problems().size());
    if (more > 0)
        m_problems->addItem(QStringLiteral("另有%1个问题未列出。").arg(more));
    const qint64 count = m_import.problemCount();
    m_summary->setText(
        count > 0 ? QStringLiteral("发现%1个问题，改正文件后再导入；不会写入任何记录。").arg(count)
                  : QStringLiteral("共%1行，没有发现问题。").arg(m_import.rowCount()));
    m_confirm->setEnabled(count == 0 && m_import.rowCount() > 0);
}

void CImportDlg::confirm()
{
    bool written = false;
    QString failure;
    {
        Progress progress(QStringLiteral("正在写入%1行…").arg(m_import.rowCount()), this);
        try {
            written = m_import.write(*m_context.connection, m_context.classNumber,
                                     m_context.userName.isEmpty() && m_context.log
                                         ? m_context.log->userName()
                                         : m_context.userName,
                                     progress.report());
        } catch (const DbError& e) {
            failure = e.text();
        }
    }
    if (!failure.isEmpty()) {
        Messages::show(QStringLiteral("导入失败，没有写入任何记录：\r\n%1").arg(failure), QString(),
                       Messages::Icon::Exclamation, Messages::Buttons::Ok, this);
    } else if (!written) {
        Messages::show(QStringLiteral("导入已取消，没有写入任何记录。"), QString(),
                       Messages::Icon::None, Messages::Buttons::Ok, this);
    } else {
        m_written = m_import.rowCount();
        Messages::show(QStringLiteral("已导入%1行。").arg(m_written), QString(),
                       Messages::Icon::None, Messages::Buttons::Ok, this);
        accept();
    }
}

bool importWithDialog(const TableDescription& table, const FormContext& context, QWidget* parent)
{
    QString folder = lastFolder();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString path = FileDialogs::openFileName(
        parent, QStringLiteral("导入"), folder,
        {QStringLiteral("Excel 工作簿或 CSV 文件 (*.xlsx *.csv)"), QStringLiteral("所有文件 (*)")});
    if (path.isEmpty())
        return false;
    lastFolder() = QFileInfo(path).absolutePath();
    TableImport import(table);
    try {
        import.open(path);
    } catch (const DbError& e) {
        Messages::show(QStringLiteral("无法导入：\r\n%1").arg(e.text()), QString(),
                       Messages::Icon::Exclamation, Messages::Buttons::Ok, parent);
        return false;
    }
    // The columns matched by hand last time, where this file has them.
    import.matchColumns(TableImport::rememberedColumns(table), true);
    CImportDlg dialog(import, context, parent);
    // A file that cannot be read has nothing to preview.
    if (!dialog.load())
        return false;
    dialog.exec();
    return dialog.written() > 0;
}

void offerImport(CommandTable& commands, const TableDescription& table, const FormContext& context,
                 QWidget* form, std::function<void()> done)
{
    commands.addMenuExtra(QStringLiteral("导入…"), QKeySequence(),
                          [&table, context, form, done = std::move(done)] {
                              if (refuseIfReadOnly(context.classNumber, RefusalText::OneLine, form))
                                  return;
                              if (importWithDialog(table, context, form) && done)
                                  done();
                              // Back to the form's list, where the rows came.
                              form->activateWindow();
                              if (auto* list = form->findChild<RecordListView*>())
                                  list->setFocus(Qt::OtherFocusReason);
                          });
}

} // namespace vok
