#include "player/NXMPlayerOutputReader.h"

#include <QRegularExpression>

#include <utility>

namespace {

// A status line never ends without its carriage return, but a player gone
// wild must not make us hold its output without bound.
constexpr qsizetype kLongestLine = 64 * 1024;

// The single-byte line ends; the multi-byte ones (NEL, U+2028, U+2029) are
// only split inside complete text, where they cannot be cut in half.
bool isLineEndByte(char byte)
{
    return byte == '\n' || byte == '\r' || byte == '\v' || byte == '\f';
}

QStringList splitLines(const QByteArray& text)
{
    static const QRegularExpression lineEnd(
        QStringLiteral("\\r\\n|[\\n\\x{000B}\\x{000C}\\r\\x{0085}\\x{2028}\\x{2029}]"));
    return QString::fromUtf8(text).split(lineEnd);
}

} // namespace

QStringList NXMPlayerOutputReader::read(const QByteArray& piece)
{
    m_pending.append(piece);
    qsizetype end = m_pending.size();
    while (end > 0 && !isLineEndByte(m_pending.at(end - 1)))
        --end;
    const bool cutOverlong = end == 0 && m_pending.size() > kLongestLine;
    if (end == 0 && !cutOverlong)
        return {};
    if (cutOverlong)
        end = m_pending.size();
    QStringList lines = splitLines(m_pending.first(end));
    m_pending.remove(0, end);
    // Text that ends with a line end splits into one more piece than it has
    // lines: an empty one after that end.
    if (!cutOverlong)
        lines.removeLast();
    return lines;
}

QStringList NXMPlayerOutputReader::finish()
{
    const QByteArray rest = std::exchange(m_pending, {});
    return rest.isEmpty() ? QStringList() : splitLines(rest);
}
