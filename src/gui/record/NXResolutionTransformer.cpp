#include "record/NXResolutionTransformer.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

using Resolution = std::pair<QSize, const char*>;

constexpr std::array<Resolution, 7> kResolutions { {
    { QSize(0, 0), "Default" },
    { QSize(320, 240), "320x240" },
    { QSize(352, 288), "352x288" },
    { QSize(640, 480), "640x480" },
    { QSize(960, 540), "960x540" },
    { QSize(1280, 720), "1280x720" },
    { QSize(1920, 1080), "HD" },
} };

} // namespace

QString NXResolutionTransformer::transformedValue(const QSize& size)
{
    const auto found = std::find_if(kResolutions.begin(), kResolutions.end(),
        [&size](const Resolution& resolution) { return resolution.first == size; });
    return QLatin1String(found == kResolutions.end() ? kResolutions.front().second : found->second);
}

QSize NXResolutionTransformer::reverseTransformedValue(const QString& title)
{
    const auto found = std::find_if(
        kResolutions.begin(), kResolutions.end(), [&title](const Resolution& resolution) {
            return title == QLatin1String(resolution.second);
        });
    return found == kResolutions.end() ? QSize(0, 0) : found->first;
}

QVariantList NXRArrayTransformer::transformedValue(const QVariantList& values)
{
    if (values.isEmpty())
        return {};
    const int type = values.front().typeId();
    if (type != QMetaType::QSize && type != QMetaType::QString)
        return {};
    QVariantList result;
    for (const Resolution& resolution : kResolutions)
        result << (type == QMetaType::QSize ? QVariant(QString::fromLatin1(resolution.second))
                                            : QVariant(resolution.first));
    return result;
}
