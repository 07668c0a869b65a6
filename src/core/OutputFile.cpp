#include "core/OutputFile.h"

#include "db/DbError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace vok {

namespace {

[[noreturn]] void fail(const QString& reason)
{
    throw DbError(DbError::Kind::File, writeFailureText(reason));
}

// True when the PDF's end names the offset of its cross-reference table
// and the table stands there: a write lost on the way moves it.
bool pdfWhole(QFile& file)
{
    const qint64 size = file.size();
    const qint64 tail = std::min<qint64>(size, 64);
    if (tail < 16 || !file.seek(size - tail))
        return false;
    const QByteArray end = file.read(tail).trimmed();
    const qsizetype at = end.lastIndexOf("startxref");
    if (at < 0 || !end.endsWith("%%EOF"))
        return false;
    bool number = false;
    const qint64 xref = end.mid(at + 9, end.size() - 5 - at - 9).trimmed().toLongLong(&number);
    return number && xref > 0 && xref < size && file.seek(xref) && file.read(4) == "xref";
}

} // namespace

QString writeFailureText(const QString& reason)
{
    return QStringLiteral("写入文件时出错，磁盘可能已满（%1）。").arg(reason);
}

OutputFile::OutputFile(const QString& target) : m_target(target)
{
    const QFileInfo info(target);
    m_inPlace = info.exists() && !info.isFile();
    // Beside the target, so that it is renamed into place; a device's
    // folder takes no file.
    const QString folder = m_inPlace ? QDir::tempPath() : info.absolutePath();
    m_temporary = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.") + info.fileName() +
                                                   QStringLiteral(".XXXXXX"));
    if (!m_temporary->open()) {
        if (!QFileInfo(folder).isDir())
            throw DbError(
                DbError::Kind::File,
                QStringLiteral("文件夹“%1”不存在。").arg(QDir::toNativeSeparators(folder)));
        throw DbError(DbError::Kind::File,
                      QStringLiteral("不能在文件夹“%1”中建立文件（没有写入权限或磁盘已满）。")
                          .arg(QDir::toNativeSeparators(folder)));
    }
    m_temporary->close();
}

OutputFile::~OutputFile() = default;

unsigned newFileMode()
{
    // The umask is read where the kernel shows it: setting it to read it
    // back would change it for a moment for every thread.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
            if (line.startsWith("Umask:"))
                return 0666 & ~line.mid(6).trimmed().toUInt(nullptr, 8);
    }
    return 0644;
}

void OutputFile::commitPdf()
{
    {
        QFile made(m_temporary->fileName());
        if (!made.open(QIODevice::ReadOnly))
            fail(made.errorString());
        if (!pdfWhole(made))
            fail(QStringLiteral("文件“%1”没有写完整").arg(QDir::toNativeSeparators(m_target)));
    }
    commit();
}

void OutputFile::commit()
{
    QFile made(m_temporary->fileName());
    if (!made.open(QIODevice::ReadOnly))
        fail(made.errorString());
    if (m_inPlace) {
        QFile out(m_target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            fail(out.errorString());
        made.seek(0);
        while (!made.atEnd()) {
            const QByteArray block = made.read(1 << 20);
            if (out.write(block) != block.size())
                fail(out.errorString());
        }
        return;
    }
    // On the disk before it replaces anything: a full disk may be told
    // only now.
    if (::fsync(made.handle()) != 0)
        fail(qt_error_string(errno));
    made.close();
    // The mode a file made here would have (the temporary one is private).
    const QByteArray path = QFile::encodeName(m_temporary->fileName());
    if (::chmod(path.constData(), mode_t(newFileMode())) != 0 ||
        std::rename(path.constData(), QFile::encodeName(m_target).constData()) != 0)
        fail(qt_error_string(errno));
    m_temporary->setAutoRemove(false);
}

} // namespace vok
