#include "engine/ArgvAssemblerTables.h"

#include "platform/DNLogger.h"

#include <cstring>

namespace {

ArgvAssembler findIn(const char* name, std::span<const ArgvAssemblerEntry> table)
{
    for (const ArgvAssemblerEntry& row : table) {
        if (std::strcmp(row.name, name) == 0)
            return row.assembler;
    }
    return nullptr;
}

} // namespace

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
