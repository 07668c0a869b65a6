#pragma once

// The zip archive of a workbook, written as it is made: small parts
// deflated whole, the worksheet streamed through a fast deflate. A write
// that fails throws DbError ("写入文件时出错，磁盘可能已满（…）。").
#include <QtGlobal>

#include <isa-l/igzip_lib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vok {

// The worksheet's XML, deflated as it is made (ISA-L's fast level, raw
// deflate: a tenth of zlib's time on this XML) and appended to the file.
// It is filled through a raw pointer: reserve() room, write, commit() the
// end; a quarter megabyte is held at a time, whatever the size of the
// sheet.
class SheetStream
{
public:
    explicit SheetStream(int fd);

    // Room for n more bytes.
    char* reserve(size_t n);
    void commit(const char* end) { m_used = size_t(end - m_in.data()); }
    // Ends the stream.
    void finish();

    quint32 crc() const { return m_crc; }
    quint64 bytesIn() const { return m_z.total_in; }
    quint64 bytesOut() const { return m_written; }

private:
    static constexpr size_t kBufferBytes = size_t(1) << 18;

    void deflateBuffer(bool last);

    const int m_fd;
    std::vector<char> m_in;
    size_t m_used = 0;
    std::vector<char> m_out;
    std::vector<uint8_t> m_level;
    isal_zstream m_z{};
    quint32 m_crc = 0;
    quint64 m_written = 0;
};

// A zip archive of deflated entries, zip64 where an entry or the archive
// outgrows four gigabytes. One entry may be streamed through
// SheetStream; its first bytes are stored (not compressed) so that they
// can be rewritten once the entry is complete: a worksheet's column widths
// stand before its rows but are known only after them.
class ZipWriter
{
public:
    explicit ZipWriter(int fd);

    void add(const char* name, std::string_view data);

    // Starts the streamed entry: its header, then the placeholder of its
    // rewritable head as stored blocks. A SheetStream writes the rest.
    void beginStream(const char* name, std::string_view placeholder);
    // Ends it: head is the final head, as long as the placeholder.
    void endStream(std::string_view head, const SheetStream& rest);

    // The central directory and its end records.
    void finish();

private:
    struct Entry
    {
        std::string name;
        quint64 offset = 0;
        quint32 crc = 0;
        quint64 packed = 0;
        quint64 size = 0;
    };

    // The local header; a streamed entry's has room for the zip64 sizes,
    // which is padding (an extra field readers skip) while it is small.
    std::string localHeader(const Entry& e, bool streamed) const;

    // Deflate's stored (uncompressed, not final) blocks of the bytes.
    static std::string storedBlocks(std::string_view bytes);

    void writeOut(std::string_view bytes);
    void writeAt(std::string_view bytes, quint64 offset);

    const int m_fd;
    quint16 m_dosDate = 0;
    quint16 m_dosTime = 0;
    quint64 m_offset = 0;
    std::vector<Entry> m_entries;
    Entry m_stream;
    size_t m_headLength = 0;
};

} // namespace vok
