#include "engine/ArgvAssemblerTables.h"

#include "builders/audio/AudioBuilders.h"
#include "builders/video/Matroska.h"
#include "services/DNLogger.h"

#include <cstring>
#include <initializer_list>

namespace {

// The rows in lookup order. Each builder family adds its rows, with the
// header that declares its builders, as
//     { "Video_To_MKV_With_AVEncoder", &Video_To_MKV_With_AVEncoder },
constexpr std::initializer_list<ArgvAssemblerEntry> kDVDRows = {};

constexpr std::initializer_list<ArgvAssemblerEntry> kVideoRows = {
    // Matroska.
    { "Video_To_MKV_With_AVEncoder", &Video_To_MKV_With_AVEncoder },
    { "Video_To_HD_MKV_With_AVEncoder", &Video_To_HD_MKV_With_AVEncoder },
    // Audio outputs.
    { "Video_To_AAC_With_AVEncoder", &Video_To_AAC_With_AVEncoder },
    { "Video_To_AC3_With_AVEncoder", &Video_To_AC3_With_AVEncoder },
    { "Video_To_AIFF_With_AVEncoder", &Video_To_AIFF_With_AVEncoder },
    { "Video_To_ALAC_With_AVEncoder", &Video_To_ALAC_With_AVEncoder },
    { "Video_To_AU_With_AVEncoder", &Video_To_AU_With_AVEncoder },
    { "Video_To_CAF_With_AVEncoder", &Video_To_CAF_With_AVEncoder },
    { "Video_To_DTS_With_AVEncoder", &Video_To_DTS_With_AVEncoder },
    { "Video_To_FLAC_With_AVEncoder", &Video_To_FLAC_With_AVEncoder },
    { "Video_To_M4R_With_AVEncoder", &Video_To_M4R_With_AVEncoder },
    { "Video_To_MP3_With_AVEncoder", &Video_To_MP3_With_AVEncoder },
    { "Video_To_OGG_With_AVEncoder", &Video_To_OGG_With_AVEncoder },
    { "Video_To_RA_With_AVEncoder", &Video_To_RA_With_AVEncoder },
    { "Video_To_WAV_With_AVEncoder", &Video_To_WAV_With_AVEncoder },
    { "Video_To_WMA_With_AVEncoder", &Video_To_WMA_With_AVEncoder },
};

std::span<const ArgvAssemblerEntry> rowsOf(std::initializer_list<ArgvAssemblerEntry> rows)
{
    return { rows.begin(), rows.size() };
}

ArgvAssembler findIn(const char* name, std::span<const ArgvAssemblerEntry> table)
{
    for (const ArgvAssemblerEntry& row : table) {
        if (std::strcmp(row.name, name) == 0)
            return row.assembler;
    }
    return nullptr;
}

} // namespace

std::span<const ArgvAssemblerEntry> DVDArgvAssemblerTable()
{
    return rowsOf(kDVDRows);
}

std::span<const ArgvAssemblerEntry> VideoArgvAssemblerTable()
{
    return rowsOf(kVideoRows);
}

ArgvAssembler findArgvAssemblerIn(const char* name, std::span<const ArgvAssemblerEntry> dvdTable,
    std::span<const ArgvAssemblerEntry> videoTable)
{
    if (!name)
        return nullptr;
    if (const ArgvAssembler found = findIn(name, dvdTable))
        return found;
    return findIn(name, videoTable);
}

ArgvAssembler findArgvAssembler(const char* name)
{
    return findArgvAssemblerIn(name, DVDArgvAssemblerTable(), VideoArgvAssemblerTable());
}

ArgvAssembler FindAVEncoderAssembler(const char* name)
{
    return findArgvAssemblerIn(name, {}, VideoArgvAssemblerTable());
}

QString argumentLine(const ArgumentBlock& block)
{
    QString line;
    for (const QString& argument : block.arguments())
        line += argument + QLatin1Char(' ');
    return line;
}

bool logArgumentBlock(const ArgumentBlock* block)
{
    if (!block) {
        DNLog(QStringLiteral("construc arguments failed, exit...."));
        return false;
    }
    DNLog(argumentLine(*block));
    return true;
}
