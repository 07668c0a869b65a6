#include "browse/ListExport.h"

#include "browse/RecordListModel.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace vok {

namespace {

constexpr int kProgressEvery = 4096;
constexpr int kMaxColumnWidth = 60;

bool isWide(char32_t c)
{
    // East Asian wide and full-width ranges.
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

QString folderError(const QString& fileName)
{
    const QFileInfo folder(QFileInfo(fileName).absolutePath());
    if (!folder.exists() || !folder.isDir())
        return QStringLiteral("文件夹“%1”不存在。")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    return QStringLiteral("不能在文件夹“%1”中建立文件（没有写入权限或磁盘已满）。")
        .arg(QDir::toNativeSeparators(folder.filePath()));
}

// One CSV field: quoted when it holds a comma, a quote or a line break,
// quotes doubled.
void appendCsvField(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    bool quote = false;
    for (char c : utf8)
        if (c == ',' || c == '"' || c == '\n' || c == '\r') {
            quote = true;
            break;
        }
    if (!quote) {
        out += utf8;
        return;
    }
    out += '"';
    for (char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

ExportResult writeCsv(const ExportSource& source, const QString& fileName,
                      const ExportProgress& progress)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return {ExportResult::Failed, folderError(fileName)};
    QByteArray chunk("\xEF\xBB\xBF");
    chunk.reserve(1 << 20);
    auto writeRow = [&](auto&& textOf) {
        for (int c = 0; c < source.columns; ++c) {
            if (c)
                chunk += ',';
            appendCsvField(chunk, textOf(c));
        }
        chunk += "\r\n";
    };
    auto flush = [&] {
        const bool ok = file.write(chunk) == chunk.size();
        chunk.clear();
        return ok;
    };
    writeRow([&](int c) { return source.heading(c); });
    for (int r = 0; r < source.rows; ++r) {
        writeRow([&](int c) { return source.text(r, c); });
        if (chunk.size() >= (1 << 20) && !flush())
            break;
        if ((r + 1) % kProgressEvery == 0 && progress && !progress(r + 1)) {
            file.cancelWriting();
            return {ExportResult::Cancelled, {}};
        }
    }
    if (!flush() || !file.commit()) {
        file.cancelWriting();
        return {ExportResult::Failed,
                QStringLiteral("写入文件时出错，磁盘可能已满（%1）。").arg(file.errorString())};
    }
    if (progress)
        progress(source.rows);
    return {};
}

class Workbook
{
public:
    ~Workbook()
    {
        // An abandoned workbook is freed without writing it out.
        if (m_book)
            lxw_workbook_free(m_book);
    }
    lxw_workbook* open(const QByteArray& path, const QByteArray& tmpdir)
    {
        m_tmpdir = tmpdir;
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tmpdir.data();
        options.use_zip64 = LXW_TRUE;
        m_book = workbook_new_opt(path.constData(), &options);
        return m_book;
    }
    lxw_error close()
    {
        lxw_workbook* book = m_book;
        m_book = nullptr;
        return workbook_close(book);
    }

private:
    lxw_workbook* m_book = nullptr;
    QByteArray m_tmpdir;
};

ExportResult writeXlsx(const ExportSource& source, const QString& fileName,
                       const ExportProgress& progress)
{
    if (source.rows > kMaxWorkbookRows)
        return {ExportResult::Failed,
                QStringLiteral("列表有%1行，超过了 Excel 工作表能容纳的%2行，请导出为 CSV 文件。")
                    .arg(source.rows)
                    .arg(kMaxWorkbookRows)};
    const QFileInfo target(fileName);
    // Written beside the target under a temporary name, renamed when done.
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                             QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        return {ExportResult::Failed, folderError(fileName)};
    temporary.close();
    const QByteArray path = QFile::encodeName(temporary.fileName());

    Workbook workbook;
    lxw_workbook* book = workbook.open(path, QFile::encodeName(target.absolutePath()));
    if (!book)
        return {ExportResult::Failed, folderError(fileName)};
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* number = workbook_add_format(book);
    format_set_num_format(number, "0.000000");

    std::vector<int> widths(size_t(source.columns), 0);
    std::vector<bool> numeric(size_t(source.columns));
    for (int c = 0; c < source.columns; ++c) {
        numeric[size_t(c)] = source.numeric && source.numeric(c);
        const QString heading = source.heading(c);
        widths[size_t(c)] = displayWidth(heading);
        worksheet_write_string(sheet, 0, lxw_col_t(c), heading.toUtf8().constData(), bold);
    }
    worksheet_freeze_panes(sheet, 1, 0);

    lxw_error failure = LXW_NO_ERROR;
    QByteArray utf8;
    for (int r = 0; r < source.rows && failure == LXW_NO_ERROR; ++r) {
        const auto row = lxw_row_t(r + 1);
        for (int c = 0; c < source.columns; ++c) {
            const QString text = source.text(r, c);
            int& width = widths[size_t(c)];
            width = std::max(width, displayWidth(text));
            if (numeric[size_t(c)] && !text.isEmpty()) {
                bool ok = false;
                const double value = text.toDouble(&ok);
                if (ok) {
                    failure = worksheet_write_number(sheet, row, lxw_col_t(c), value, number);
                    continue;
                }
            }
            if (text.isEmpty())
                continue;
            utf8 = text.toUtf8();
            failure = worksheet_write_string(sheet, row, lxw_col_t(c), utf8.constData(), nullptr);
        }
        if ((r + 1) % kProgressEvery == 0 && progress && !progress(r + 1))
            return {ExportResult::Cancelled, {}};
    }
    for (int c = 0; c < source.columns; ++c)
        worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c),
                             std::min(widths[size_t(c)], kMaxColumnWidth) + 2, nullptr);
    if (failure == LXW_NO_ERROR)
        failure = workbook.close();
    if (failure != LXW_NO_ERROR)
        return {ExportResult::Failed,
                failure == LXW_ERROR_CREATING_XLSX_FILE || failure == LXW_ERROR_CREATING_TMPFILE
                    ? folderError(fileName)
                    : QStringLiteral("写入文件时出错，磁盘可能已满（%1）。")
                          .arg(QString::fromUtf8(lxw_strerror(failure)))};
    if (std::rename(path.constData(), QFile::encodeName(target.absoluteFilePath()).constData()) !=
        0)
        return {ExportResult::Failed, folderError(fileName)};
    temporary.setAutoRemove(false);
    QFile::setPermissions(target.absoluteFilePath(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                              QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (progress)
        progress(source.rows);
    return {};
}

} // namespace

int displayWidth(const QString& text)
{
    int width = 0;
    for (char32_t c : text.toUcs4())
        width += isWide(c) ? 2 : 1;
    return width;
}

ExportSource exportSourceOf(const RecordListModel& list)
{
    ExportSource s;
    s.rows = list.rowCount();
    s.columns = list.columnCount();
    s.heading = [&list](int c) { return list.columns()[size_t(c)].heading; };
    s.text = [&list](int r, int c) { return list.text(r, c); };
    s.numeric = [&list](int c) { return list.columns()[size_t(c)].kind == ListColumn::Single; };
    return s;
}

ExportSource exportSourceOf(const QAbstractItemModel& model)
{
    ExportSource s;
    s.rows = model.rowCount();
    s.columns = model.columnCount();
    s.heading = [&model](int c) { return model.headerData(c, Qt::Horizontal).toString(); };
    s.text = [&model](int r, int c) { return model.index(r, c).data().toString(); };
    s.numeric = [](int) { return false; };
    return s;
}

ExportFormat exportFormatFor(const QString& fileName)
{
    return QFileInfo(fileName).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0
               ? ExportFormat::Csv
               : ExportFormat::Xlsx;
}

ExportResult exportList(const ExportSource& source, const QString& fileName, ExportFormat format,
                        const ExportProgress& progress)
{
    return format == ExportFormat::Csv ? writeCsv(source, fileName, progress)
                                       : writeXlsx(source, fileName, progress);
}

} // namespace vok
