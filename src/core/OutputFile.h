#pragma once

#include <QString>
#include <QTemporaryFile>

#include <memory>

namespace vok {

// A file that another writer makes (a printer's PDF), written under a
// temporary name and put in place only once it is whole on the disk: a
// full disk is told, never a file left empty or cut short. A target that
// is no plain file (a device, a pipe) is written into once the whole file
// is made, every write checked. Failures throw DbError
// ("写入文件时出错，磁盘可能已满（…）。").
class OutputFile
{
public:
    // Throws when no file can be made beside the target.
    explicit OutputFile(const QString& target);
    ~OutputFile();

    // Where the writer writes.
    QString writingName() const { return m_temporary->fileName(); }

    // Puts the file written in place once it is on the disk.
    void commit();
    // Checks that the PDF written is whole (its cross-reference table
    // where its end says) and on the disk, and puts it in place.
    void commitPdf();

private:
    QString m_target;
    bool m_inPlace = false; // the target is written into, not replaced
    std::unique_ptr<QTemporaryFile> m_temporary;
};

// The mode a new file of the user gets (0666 less the umask).
unsigned newFileMode();

// The text of a write that failed: "写入文件时出错，磁盘可能已满（REASON）。"
QString writeFailureText(const QString& reason);

} // namespace vok
