#include "player/MPlayerStatusLine.h"

const QRegularExpression& mplayerStatusPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(?:A:\s*([0-9.-]+)(?:\s*\([0-9.-]+\) of [0-9.-]+ \([ 0-9.-:]+\))?\s*)?)"
        R"((?:V:\s*([0-9.-]+)\s*)?(?:A-V:\s*([0-9.-]+)\s*)?(?:ct:\s*[0-9.-]+\s*)?)"
        R"((?:\d+\/\s*\d+\s*)?(?:([0-9.-?]+)%(?:\s*([0-9.-?]+)%)?(?:\s*([0-9.-?,]+)?%)?\s*)?)"
        R"((?:(\d+)\s*\d+\s*)?(?:(\d+)%\s*)?(?:[0-9.-]+x\s*)?)"));
    return pattern;
}
