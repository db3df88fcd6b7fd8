#include "slideshow/NXEffectManager.h"

#include "platform/AppPaths.h"
#include "slideshow/NXKernelFilters.h"
#include "slideshow/StandInTransitions.h"

#include <QDir>
#include <QImageReader>
#include <QPointF>
#include <QRandomGenerator>

#include <array>
#include <functional>

namespace {

constexpr qint64 kTransitionCount = 18;
constexpr qint64 kFirstRotation = NXTransitionRotation;
const QString kRotationName = QStringLiteral("NXRotationFilter");

// The catalogue name of each transition number, in number order.
const std::array<QString, kTransitionCount>& catalogueNames()
{
    static const std::array<QString, kTransitionCount> names { "CIBarsSwipeTransition",
        "CIDissolveTransition", "CIFlashTransition", "CIRippleTransition", "CISwipeTransition",
        "CIModTransition", "CIPageCurlTransition", "NXPushTransform", "NXMoveTransform",
        "NXTwirlTransform", "NXImplosionTransform", "NXFadeTransform", "NXTileOutTransform",
        "NXTileInTransform", kRotationName, kRotationName, kRotationName, kRotationName };
    return names;
}

using FilterMaker = std::function<std::unique_ptr<NXTransitionFilter>()>;

template<class Filter> FilterMaker maker()
{
    return [] { return std::make_unique<Filter>(); };
}

// Every name a filter can be asked for by. The rotation registers as
// "NXRotationTransform" but the catalogue has always asked for it by its class
// name, so both lead to it.
const std::map<QString, FilterMaker>& registeredFilters()
{
    static const std::map<QString, FilterMaker> filters {
        { "CIBarsSwipeTransition", maker<BarsSwipeTransition>() },
        { "CIDissolveTransition", maker<DissolveTransition>() },
        { "CIFlashTransition", maker<FlashTransition>() },
        { "CIRippleTransition", maker<RippleTransition>() },
        { "CISwipeTransition", maker<SwipeTransition>() },
        { "CIModTransition", maker<ModTransition>() },
        { "CIPageCurlTransition", maker<PageCurlTransition>() },
        { "NXPushTransform", maker<NXPushFilter>() },
        { "NXMoveTransform", maker<NXMoveFilter>() },
        { "NXTwirlTransform", maker<NXTwirlFilter>() },
        { "NXImplosionTransform", maker<NXImplosionFilter>() },
        { "NXFadeTransform", maker<NXFadeFilter>() },
        { "NXTileInTransform", maker<NXTileInFilter>() },
        { "NXTileOutTransform", maker<NXTileOutFilter>() },
        { "NXRotationTransform", maker<NXRotationFilter>() },
        { kRotationName, maker<NXRotationFilter>() },
    };
    return filters;
}

qint64 randomTransition()
{
    return QRandomGenerator::global()->bounded(kTransitionCount);
}

} // namespace

NXEffectManager& NXEffectManager::instance()
{
    // Made once, on first use; C++ guards the first use across threads.
    static NXEffectManager manager;
    return manager;
}

NXEffectManager::NXEffectManager()
{
    for (const QString& name : catalogueNames()) {
        if (m_filters.contains(name))
            continue;
        std::unique_ptr<NXTransitionFilter> filter = filterWithName(name);
        filter->setDefaults();
        m_filters.emplace(name, std::move(filter));
    }
    m_filters.at("CIRippleTransition")->setValue("inputShadingImage", shadingImage());
}

QString NXEffectManager::catalogueName(qint64 type)
{
    if (type < 0 || type >= kTransitionCount)
        return {};
    return catalogueNames()[static_cast<std::size_t>(type)];
}

NXTransitionFilter* NXEffectManager::filterWithNXType(qint64 type)
{
    if (type == NXTransitionRandom)
        type = randomTransition();
    return filterWithCIName(catalogueName(type));
}

NXTransitionFilter* NXEffectManager::filterWithCIName(const QString& name)
{
    const auto found = m_filters.find(name);
    return found == m_filters.end() ? nullptr : found->second.get();
}

NXTransitionFilter* NXEffectManager::filterWithRandom()
{
    return filterWithNXType(randomTransition());
}

std::unique_ptr<NXTransitionFilter> NXEffectManager::independentFilterWithType(qint64 type)
{
    const NXTransitionFilter* shared = instance().filterWithNXType(type);
    if (!shared)
        return nullptr;
    std::unique_ptr<NXTransitionFilter> copy = shared->clone();
    // Only the rotation's numbers have a mode to set: a random number, or one
    // past the table, leaves the copy as it is.
    if (type > kFirstRotation && type < kTransitionCount)
        copy->setValue("inputMode", static_cast<int>(type - kFirstRotation));
    return copy;
}

std::unique_ptr<NXTransitionFilter> NXEffectManager::filterWithName(const QString& name)
{
    const auto found = registeredFilters().find(name);
    return found == registeredFilters().end() ? nullptr : found->second();
}

QImage NXEffectManager::shadingImage()
{
    QImageReader reader(QDir(AppPaths::resourcesFolder()).filePath("images/NXI2VShading.tiff"));
    return reader.read();
}

void NXEffectManager::prepareFilterForShowing(
    NXTransitionFilter& filter, qint64 type, const QRectF& area, const QImage& shading)
{
    if (type >= NXTransitionPush && type < kFirstRotation)
        return;
    if (type >= kFirstRotation && type < kTransitionCount) {
        filter.setValue("inputMode", static_cast<int>(type - kFirstRotation));
        return;
    }
    filter.setDefaults();
    switch (type) {
    case NXTransitionFlash:
        filter.setValue("inputCenter", area.center());
        filter.setValue("inputExtent", area);
        break;
    case NXTransitionRipple:
        filter.setValue("inputCenter", area.center());
        filter.setValue("inputShadingImage", shading);
        break;
    case NXTransitionMod:
        filter.setValue("inputCenter", area.center());
        break;
    case NXTransitionPageCurl:
        filter.setValue("inputAngle", -0.7853982f);
        filter.setValue("inputShadingImage", shading);
        filter.setValue("inputBacksideImage", shading);
        filter.setValue("inputExtent", area);
        break;
    default:
        break;
    }
}
