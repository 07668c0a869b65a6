#include "core/ZipWriter.h"

#include "core/Clock.h"
#include "db/DbError.h"

#include <isa-l/crc.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vok {

namespace {

[[noreturn]] void fail(int error)
{
    throw DbError(DbError::Kind::File, QStringLiteral("写入文件时出错，磁盘可能已满（%1）。")
                                           .arg(QString::fromLocal8Bit(std::strerror(error))));
}

void writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        data += written;
        size -= size_t(written);
    }
}

void putLe(std::string& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

// Sizes and offsets from here on are held in zip64 fields; the 32-bit field
// then reads kInZip64.
constexpr quint64 kZip32Limit = 0xFFFFFFFFu;
constexpr quint64 kInZip64 = 0xFFFFFFFFu;

} // namespace

SheetStream::SheetStream(int fd)
    : m_fd(fd), m_in(kBufferBytes), m_out(kBufferBytes), m_level(ISAL_DEF_LVL1_DEFAULT)
{
    isal_deflate_init(&m_z);
    m_z.level = 1;
    m_z.level_buf = m_level.data();
    m_z.level_buf_size = uint32_t(m_level.size());
}

char* SheetStream::reserve(size_t n)
{
    if (m_in.size() - m_used < n) {
        deflateBuffer(false);
        if (m_in.size() < n)
            m_in.resize(n);
    }
    return m_in.data() + m_used;
}

void SheetStream::finish()
{
    deflateBuffer(true);
}

void SheetStream::deflateBuffer(bool last)
{
    auto* in = reinterpret_cast<uint8_t*>(m_in.data());
    m_crc = crc32_gzip_refl(m_crc, in, m_used);
    m_z.next_in = in;
    m_z.avail_in = uint32_t(m_used);
    m_z.end_of_stream = last;
    do {
        m_z.next_out = reinterpret_cast<uint8_t*>(m_out.data());
        m_z.avail_out = uint32_t(m_out.size());
        if (isal_deflate(&m_z) != COMP_OK)
            fail(ENOMEM);
        const size_t produced = m_out.size() - m_z.avail_out;
        writeAll(m_fd, m_out.data(), produced);
        m_written += produced;
    } while (m_z.avail_out == 0 || (last && m_z.internal_state.state != ZSTATE_END));
    m_used = 0;
}

ZipWriter::ZipWriter(int fd) : m_fd(fd)
{
    const QDateTime now = Clock::now();
    const QDate d = now.date();
    const QTime t = now.time();
    m_dosDate = quint16(((std::max(d.year(), 1980) - 1980) << 9) | (d.month() << 5) | d.day());
    m_dosTime = quint16((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2));
}

void ZipWriter::add(const char* name, std::string_view data)
{
    std::string packed(compressBound(uLong(data.size())) + 16, '\0');
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fail(ENOMEM);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = uInt(packed.size());
    const int status = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (status != Z_STREAM_END)
        fail(ENOMEM);
    packed.resize(z.total_out);
    Entry e{name, m_offset,
            quint32(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size())),
            packed.size(), data.size()};
    const std::string header = localHeader(e, false);
    m_entries.push_back(e);
    writeOut(header);
    writeOut(packed);
}

void ZipWriter::beginStream(const char* name, std::string_view placeholder)
{
    m_stream = Entry{name, m_offset, 0, 0, 0};
    m_headLength = placeholder.size();
    writeOut(localHeader(m_stream, true));
    writeOut(storedBlocks(placeholder));
}

void ZipWriter::endStream(std::string_view head, const SheetStream& rest)
{
    Q_ASSERT(head.size() == m_headLength);
    const std::string stored = storedBlocks(head);
    const quint32 headCrc =
        quint32(crc32_z(0, reinterpret_cast<const Bytef*>(head.data()), head.size()));
    m_stream.crc = quint32(crc32_combine(headCrc, rest.crc(), z_off_t(rest.bytesIn())));
    m_stream.packed = stored.size() + rest.bytesOut();
    m_stream.size = head.size() + rest.bytesIn();
    const std::string header = localHeader(m_stream, true);
    writeAt(header, m_stream.offset);
    writeAt(stored, m_stream.offset + quint64(header.size()));
    m_offset += rest.bytesOut();
    m_entries.push_back(m_stream);
}

void ZipWriter::finish()
{
    const quint64 directoryOffset = m_offset;
    std::string directory;
    for (const Entry& e : m_entries) {
        const bool big = e.size >= kZip32Limit || e.packed >= kZip32Limit;
        const bool far = e.offset >= kZip32Limit;
        std::string extra;
        if (big || far) {
            putLe(extra, 0x0001, 2);
            putLe(extra, (big ? 16 : 0) + (far ? 8 : 0), 2);
            if (big) {
                putLe(extra, e.size, 8);
                putLe(extra, e.packed, 8);
            }
            if (far)
                putLe(extra, e.offset, 8);
        }
        putLe(directory, 0x02014b50, 4);
        putLe(directory, big || far ? 45 : 20, 2); // made by (MS-DOS attributes)
        putLe(directory, big || far ? 45 : 20, 2); // needed to extract
        putLe(directory, 0, 2);
        putLe(directory, 8, 2);
        putLe(directory, m_dosTime, 2);
        putLe(directory, m_dosDate, 2);
        putLe(directory, e.crc, 4);
        putLe(directory, big ? kInZip64 : e.packed, 4);
        putLe(directory, big ? kInZip64 : e.size, 4);
        putLe(directory, e.name.size(), 2);
        putLe(directory, extra.size(), 2);
        putLe(directory, 0, 2); // comment
        putLe(directory, 0, 2); // disk
        putLe(directory, 0, 2); // internal attributes
        putLe(directory, 0, 4); // external attributes
        putLe(directory, far ? kInZip64 : e.offset, 4);
        directory += e.name;
        directory += extra;
    }
    const quint64 directoryEnd = directoryOffset + directory.size();
    const bool zip64 = directoryOffset >= kZip32Limit;
    if (zip64) {
        putLe(directory, 0x06064b50, 4);
        putLe(directory, 44, 8);
        putLe(directory, 45, 2);
        putLe(directory, 45, 2);
        putLe(directory, 0, 4);
        putLe(directory, 0, 4);
        putLe(directory, m_entries.size(), 8);
        putLe(directory, m_entries.size(), 8);
        putLe(directory, directoryEnd - directoryOffset, 8);
        putLe(directory, directoryOffset, 8);
        putLe(directory, 0x07064b50, 4);
        putLe(directory, 0, 4);
        putLe(directory, directoryEnd, 8);
        putLe(directory, 1, 4);
    }
    putLe(directory, 0x06054b50, 4);
    putLe(directory, 0, 2);
    putLe(directory, 0, 2);
    putLe(directory, m_entries.size(), 2);
    putLe(directory, m_entries.size(), 2);
    putLe(directory, directoryEnd - directoryOffset, 4);
    putLe(directory, zip64 ? kInZip64 : directoryOffset, 4);
    putLe(directory, 0, 2);
    writeOut(directory);
}

std::string ZipWriter::localHeader(const Entry& e, bool streamed) const
{
    const bool big = e.size >= kZip32Limit || e.packed >= kZip32Limit;
    std::string h;
    putLe(h, 0x04034b50, 4);
    putLe(h, big ? 45 : 20, 2);
    putLe(h, 0, 2);
    putLe(h, 8, 2);
    putLe(h, m_dosTime, 2);
    putLe(h, m_dosDate, 2);
    putLe(h, e.crc, 4);
    putLe(h, big ? kInZip64 : e.packed, 4);
    putLe(h, big ? kInZip64 : e.size, 4);
    putLe(h, e.name.size(), 2);
    putLe(h, streamed ? 20 : 0, 2);
    h += e.name;
    if (streamed) {
        putLe(h, big ? 0x0001 : 0xD935, 2);
        putLe(h, 16, 2);
        putLe(h, big ? e.size : 0, 8);
        putLe(h, big ? e.packed : 0, 8);
    }
    return h;
}

std::string ZipWriter::storedBlocks(std::string_view bytes)
{
    std::string out;
    do {
        const size_t n = std::min<size_t>(bytes.size(), 0xFFFF);
        out += '\0';
        putLe(out, n, 2);
        putLe(out, ~n & 0xFFFF, 2);
        out.append(bytes.substr(0, n));
        bytes.remove_prefix(n);
    } while (!bytes.empty());
    return out;
}

void ZipWriter::writeOut(std::string_view bytes)
{
    writeAll(m_fd, bytes.data(), bytes.size());
    m_offset += bytes.size();
}

void ZipWriter::writeAt(std::string_view bytes, quint64 offset)
{
    if (::pwrite(m_fd, bytes.data(), bytes.size(), off_t(offset)) != ssize_t(bytes.size()))
        fail(errno ? errno : EIO);
}

} // namespace vok
