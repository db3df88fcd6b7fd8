#include "services/DNSubtitleFont.h"

#include "platform/DNLogger.h"

#include <QFileInfo>

namespace {

// fonts-dejavu-core and fonts-wqy-zenhei: the free fonts that cover what
// the two fonts the DVD profiles were made with cover.
const QString kLatinFont = QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
const QString kChineseFont = QStringLiteral("/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc");

} // namespace

QString DNSubtitleFontPath(const QString& language)
{
    const QString wanted
        = language.toLower() == QLatin1String("zh-hans") ? kChineseFont : kLatinFont;
    if (wanted == kLatinFont || QFileInfo(wanted).isFile())
        return wanted;
    DNLog(QStringLiteral("Subtitle font %1 is not installed, using %2 instead")
              .arg(wanted, kLatinFont));
    return kLatinFont;
}
