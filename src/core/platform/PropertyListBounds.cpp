#include "platform/PropertyListBounds.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr QByteArrayView kBinaryMagic = "bplist00";
constexpr qsizetype kBinaryTrailer = 32;

QString tooDeep()
{
    return QStringLiteral("it nests deeper than %1 levels").arg(kMaxPropertyListDepth);
}

bool isContainerTag(QByteArrayView name)
{
    return name == "dict" || name == "array";
}

// The tag's name at `at` (just after '<' and any '/').
QByteArrayView tagName(const QByteArray& bytes, qsizetype at)
{
    qsizetype end = at;
    while (end < bytes.size() && (std::isalnum(static_cast<unsigned char>(bytes[end])) != 0))
        ++end;
    return QByteArrayView(bytes).sliced(at, end - at);
}

// Text within <string> cannot hold a raw '<', so every '<' starts a tag, a
// comment or a declaration.
QString xmlDepthProblem(const QByteArray& bytes)
{
    int depth = 0;
    for (qsizetype at = bytes.indexOf('<'); at >= 0; at = bytes.indexOf('<', at + 1)) {
        if (bytes.mid(at, 4) == "<!--") {
            at = bytes.indexOf("-->", at);
            if (at < 0)
                break;
            continue;
        }
        const bool closing = at + 1 < bytes.size() && bytes[at + 1] == '/';
        const QByteArrayView name = tagName(bytes, at + (closing ? 2 : 1));
        if (!isContainerTag(name))
            continue;
        const qsizetype end = bytes.indexOf('>', at);
        const bool empty = end > 0 && bytes[end - 1] == '/';
        if (closing)
            depth = std::max(0, depth - 1);
        else if (!empty && ++depth > kMaxPropertyListDepth)
            return tooDeep();
    }
    return {};
}

uint64_t bigEndian(const QByteArray& bytes, qsizetype at, int size)
{
    uint64_t value = 0;
    for (int index = 0; index < size; ++index)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + index]);
    return value;
}

// A binary list's objects: an offset table, and containers that refer to
// their members by index.
class BinaryList {
public:
    explicit BinaryList(const QByteArray& bytes)
        : m_bytes(bytes)
    {
        const qsizetype trailer = bytes.size() - kBinaryTrailer;
        m_offsetSize = static_cast<unsigned char>(bytes[trailer + 6]);
        m_refSize = static_cast<unsigned char>(bytes[trailer + 7]);
        m_count = bigEndian(bytes, trailer + 8, 8);
        m_top = bigEndian(bytes, trailer + 16, 8);
        m_table = bigEndian(bytes, trailer + 24, 8);
        const bool sizesFit
            = m_offsetSize >= 1 && m_offsetSize <= 8 && m_refSize >= 1 && m_refSize <= 8;
        m_valid = sizesFit && m_count <= uint64_t(trailer) && m_top < m_count
            && m_table <= uint64_t(trailer)
            && m_count * m_offsetSize <= uint64_t(trailer) - m_table;
    }

    bool valid() const { return m_valid; }
    uint64_t count() const { return m_count; }
    uint64_t top() const { return m_top; }

    // The objects a container refers to; none for any other object, or for
    // one that cannot be read (libplist then refuses the list).
    std::vector<uint64_t> members(uint64_t object) const
    {
        const uint64_t offset
            = bigEndian(m_bytes, qsizetype(m_table + object * m_offsetSize), m_offsetSize);
        const qsizetype end = m_bytes.size() - kBinaryTrailer;
        if (offset >= uint64_t(end))
            return {};
        qsizetype at = qsizetype(offset);
        const int marker = static_cast<unsigned char>(m_bytes[at++]);
        const int type = marker >> 4;
        // Arrays, sets and dictionaries; a dictionary lists its keys, then its values.
        if (type != 0xA && type != 0xC && type != 0xD)
            return {};
        uint64_t length = uint64_t(marker & 0xF);
        if (length == 0xF) {
            if (at >= end)
                return {};
            const int sizeMarker = static_cast<unsigned char>(m_bytes[at++]);
            const int size = 1 << (sizeMarker & 0xF);
            if ((sizeMarker >> 4) != 0x1 || size > 8 || at + size > end)
                return {};
            length = bigEndian(m_bytes, at, size);
            at += size;
        }
        const uint64_t refs = type == 0xD ? length * 2 : length;
        if (refs > uint64_t(end - at) / m_refSize)
            return {};
        std::vector<uint64_t> found;
        found.reserve(size_t(refs));
        for (uint64_t index = 0; index < refs; ++index, at += m_refSize)
            found.push_back(bigEndian(m_bytes, at, m_refSize));
        return found;
    }

private:
    const QByteArray& m_bytes;
    int m_offsetSize = 0;
    int m_refSize = 0;
    uint64_t m_count = 0;
    uint64_t m_top = 0;
    uint64_t m_table = 0;
    bool m_valid = false;
};

// The longest chain of containers from the top object, walked without
// recursion; objects shared by several containers are measured once.
QString binaryDepthProblem(const QByteArray& bytes)
{
    if (bytes.size() < kBinaryMagic.size() + kBinaryTrailer)
        return {};
    const BinaryList list(bytes);
    if (!list.valid())
        return {};
    struct Visit {
        uint64_t object;
        std::vector<uint64_t> members;
        size_t next = 0;
    };
    std::vector<int> height(size_t(list.count()), -1); // -1 unseen, -2 on the path
    std::vector<Visit> path;
    path.push_back({ list.top(), list.members(list.top()) });
    height[size_t(list.top())] = -2;
    while (!path.empty()) {
        if (int(path.size()) > kMaxPropertyListDepth)
            return tooDeep();
        Visit& visit = path.back();
        if (visit.next == visit.members.size()) {
            int tallest = 0;
            for (const uint64_t member : visit.members)
                if (member < list.count())
                    tallest = std::max(tallest, height[size_t(member)]);
            height[size_t(visit.object)] = tallest + 1;
            path.pop_back();
            continue;
        }
        const uint64_t member = visit.members[visit.next++];
        if (member >= list.count())
            continue;
        // A member that contains its own container: libplist refuses the list.
        if (height[size_t(member)] == -2)
            return {};
        if (height[size_t(member)] >= 0) {
            if (int(path.size()) + height[size_t(member)] > kMaxPropertyListDepth)
                return tooDeep();
            continue;
        }
        height[size_t(member)] = -2;
        path.push_back({ member, list.members(member) });
    }
    return {};
}

} // namespace

QString propertyListDepthProblem(const QByteArray& bytes)
{
    if (bytes.startsWith(kBinaryMagic))
        return binaryDepthProblem(bytes);
    return xmlDepthProblem(bytes);
}

std::optional<QByteArray> readFileUpTo(const QString& path, qint64 largest, QString& error)
{
    // Opening a FIFO waits for a writer, for ever if none comes.
    struct stat status { };
    if (::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISFIFO(status.st_mode)) {
        error = QStringLiteral("it is a FIFO, not a file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.read(largest + 1);
    if (bytes.size() > largest) {
        error = QStringLiteral("it is larger than %1 bytes").arg(largest);
        return std::nullopt;
    }
    return bytes;
}
