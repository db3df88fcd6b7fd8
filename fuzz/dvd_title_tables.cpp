// A DVD's title tables, read by the reader tool's own readDiscTables
// (compiled into the target) from a VIDEO_TS folder, and its answer read back
// by the program's DVDTitlesFromAnswer. The input is a two-byte length N
// (little endian), N bytes of VIDEO_TS.IFO and the rest as VTS_01_0.IFO; no
// backups, so that the damaged tables are the ones parsed. A disc read gives
// an answer that reads back with at least one title, each audio track at its
// own position; a refused one says why.
#include "FuzzSupport.h"

#include "DiscTables.h"
#include "services/DVDTitleReader.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

void writeTable(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    Fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
        "a table could not be written");
}

// The answer as the program keeps it: the notes go to its log.
QStringList answerLines(const std::string& answer)
{
    QStringList lines;
    for (const QByteArray& line : QByteArray::fromStdString(answer).split('\n')) {
        if (!line.isEmpty() && !line.startsWith("note "))
            lines << QString::fromUtf8(line);
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString disc = Fuzz::privateFolder() + QStringLiteral("/Disc");
    static const bool made = QDir().mkpath(disc + QStringLiteral("/VIDEO_TS"));
    Fuzz::require(made, "the disc folder could not be made");
    if (size < 2)
        return 0;
    const size_t first = std::min<size_t>(data[0] | size_t(data[1]) << 8, size - 2);
    writeTable(disc + QStringLiteral("/VIDEO_TS/VIDEO_TS.IFO"), data + 2, first);
    writeTable(disc + QStringLiteral("/VIDEO_TS/VTS_01_0.IFO"), data + 2 + first, size - 2 - first);
    std::string answer;
    const bool read = readDiscTables(QFile::encodeName(disc).toStdString(), answer);
    QString failure;
    const std::optional<DVDDiscFacts> facts
        = DVDTitlesFromAnswer(answerLines(answer), disc, failure);
    Fuzz::require(read == facts.has_value(), "the answer reads back otherwise than it was meant");
    if (!facts) {
        Fuzz::require(!failure.isEmpty(), "a disc refused without a reason");
        return 0;
    }
    for (const DVDTitleFacts& title : facts->titles) {
        for (size_t at = 0; at < title.audioTracks.size(); ++at)
            Fuzz::require(
                title.audioTracks[at].position == qint32(at), "an audio track out of place");
    }
    return 0;
}
