#include "profiles/DNProfile.h"

namespace {

const QString kGlobalID = QStringLiteral("GlobalID");
const QString kQualityPhase = QStringLiteral("QualityPhase");
const QString kTwoPass = QStringLiteral("EnableTwoPass");
const QString kBitrateModel = QStringLiteral("curBitrateModel");

} // namespace

std::shared_ptr<DNProfile> DNProfile::profileWithFile(
    const QString& path, int profileType, QString& error)
{
    auto profile = std::make_shared<DNProfile>();
    if (!profile->parseFile(path, profileType, error))
        return nullptr;
    return profile;
}

bool DNProfile::writesPicture() const
{
    return videoCodec().isPresent() || videoQuality().isPresent() || videoFrameRate().isPresent()
        || videoResolution().isPresent() || videoAspect().isPresent();
}

QVariantMap DNProfile::choices() const
{
    QVariantMap map {
        { kGlobalID, GlobalID() },
        { kQualityPhase, qualityPhase() },
        { kTwoPass, userEnableTwopassCode() },
        { kBitrateModel, videoQuality().curBitrateModel() },
    };
    forEachInfo(*this, [&](const auto& info) {
        if (info.isPresent())
            map.insert(QLatin1String(info.key), info.currentValue());
    });
    return map;
}

void DNProfile::applyChoices(const QVariantMap& choices)
{
    if (choices.contains(kQualityPhase))
        setQualityPhase(choices.value(kQualityPhase).toInt());
    if (choices.contains(kTwoPass))
        setUserEnableTwopassCode(choices.value(kTwoPass).toBool());
    if (choices.contains(kBitrateModel))
        videoQuality().setCurBitrateModel(choices.value(kBitrateModel).toInt());
    forEachInfo(*this, [&](auto& info) {
        const QString value = choices.value(QLatin1String(info.key)).toString();
        if (info.isPresent() && info.values().contains(value))
            info.setCurrentValue(value);
    });
}
