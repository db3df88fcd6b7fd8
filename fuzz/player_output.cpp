// The player's standard output, cut into lines by NXMPlayerOutputReader as
// the player controls read it (in pieces of whatever size each read of the
// pipe gave), then each line through the status-line and identification
// readers the controls use. The reader promises the same lines however the
// output is cut, so the input is read whole and in pieces of sizes drawn
// from the input, and both must give the same lines.
#include "FuzzSupport.h"

#include "player/NXMPlayerOutputReader.h"
#include "player/PlayerTask.h"

#include <QHash>

#include <algorithm>
#include <random>

namespace {

// The controls skip empty lines, and a "\r\n" cut between two reads yields
// one where the whole output has none.
QStringList withoutEmptyLines(QStringList lines)
{
    lines.removeAll(QString());
    return lines;
}

QStringList readWhole(const QByteArray& bytes)
{
    NXMPlayerOutputReader reader;
    QStringList lines = reader.read(bytes);
    lines << reader.finish();
    return withoutEmptyLines(lines);
}

QStringList readInPieces(const QByteArray& bytes, size_t seed)
{
    std::minstd_rand random(static_cast<std::minstd_rand::result_type>(seed));
    std::uniform_int_distribution<qsizetype> sizes(1, 48);
    NXMPlayerOutputReader reader;
    QStringList lines;
    for (qsizetype offset = 0; offset < bytes.size();) {
        const qsizetype size = std::min(bytes.size() - offset, sizes(random));
        lines << reader.read(bytes.mid(offset, size));
        offset += size;
    }
    lines << reader.finish();
    return withoutEmptyLines(lines);
}

void readEachLine(const QStringList& lines)
{
    for (const QString& line : lines) {
        playerStatusPosition(line);
        playerIdentificationValue(line);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = Fuzz::bytesOf(data, size);
    const QStringList whole = readWhole(bytes);
    Fuzz::require(
        readInPieces(bytes, qHash(bytes)) == whole, "read in pieces, the output gives other lines");
    readEachLine(whole);
    return 0;
}
