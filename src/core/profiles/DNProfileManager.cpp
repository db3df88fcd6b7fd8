#include "profiles/DNProfileManager.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"

#include <QDir>

#include <algorithm>

namespace {

QString recentKey(int profileType)
{
    return profileType == DNProfileTypeDVD ? QStringLiteral("NXRecentDvdProfile_")
                                           : QStringLiteral("NXRecentVideoProfile_");
}

bool nameLess(const QString& left, const QString& right)
{
    return QString::compare(left, right, Qt::CaseInsensitive) < 0;
}

DNProfileCategory& categoryNamed(std::vector<DNProfileCategory>& categories, const QString& name)
{
    const auto found = std::find_if(categories.begin(), categories.end(),
        [&](const DNProfileCategory& category) { return category.name == name; });
    if (found != categories.end())
        return *found;
    return categories.emplace_back(DNProfileCategory { name, {} });
}

void sortCatalogue(std::vector<DNProfileCategory>& categories)
{
    std::sort(categories.begin(), categories.end(),
        [](const auto& left, const auto& right) { return nameLess(left.name, right.name); });
    for (DNProfileCategory& category : categories) {
        std::sort(category.profiles.begin(), category.profiles.end(),
            [](const auto& left, const auto& right) {
                return nameLess(left->profileName(), right->profileName());
            });
    }
}

} // namespace

DNProfileManager& DNProfileManager::profileManager()
{
    static DNProfileManager shared(AppPaths::resourcesFolder() + QStringLiteral("/profiles"),
        UserDefaults::standard(),
        AppPaths::generatedResourcesFolder() + QStringLiteral("/profiles/DVD"));
    return shared;
}

DNProfileManager::DNProfileManager(
    const QString& profilesFolder, UserDefaults& defaults, const QString& dvdProfilesFolder)
    : m_defaults(defaults)
    , m_video(DNProfileTypeVideo, QDir::cleanPath(profilesFolder + QStringLiteral("/Video")))
    , m_dvd(DNProfileTypeDVD,
          QDir::cleanPath(dvdProfilesFolder.isEmpty() ? profilesFolder + QStringLiteral("/DVD")
                                                      : dvdProfilesFolder))
{ }

DNProfileManager::Kind* DNProfileManager::kindOf(int profileType) const
{
    Kind* kind = profileType == DNProfileTypeVideo ? &m_video
        : profileType == DNProfileTypeDVD          ? &m_dvd
                                                   : nullptr;
    if (kind)
        std::call_once(kind->loading, [&] { load(*kind); });
    return kind;
}

void DNProfileManager::load(Kind& kind) const
{
    loadFolder(kind);
    loadRecent(kind);
    kind.loaded = true;
}

void DNProfileManager::loadFolder(Kind& kind)
{
    const QDir dir(kind.folder);
    if (!dir.exists()) {
        DNLog(QStringLiteral("Profile folder \"%1\" is missing").arg(kind.folder));
        return;
    }
    const QStringList files = dir.entryList({ QStringLiteral("*.plist") }, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        QString error;
        const auto profile
            = DNProfile::profileWithFile(dir.filePath(file), kind.profileType, error);
        if (!profile) {
            DNLog(error + QStringLiteral(", so it is left out"));
            continue;
        }
        if (catalogueProfile(kind, profile->GlobalID())) {
            DNLog(QStringLiteral("Profile \"%1\" repeats the \"GlobalID\" %2, so it is left out")
                      .arg(profile->filePath())
                      .arg(profile->GlobalID()));
            continue;
        }
        categoryNamed(kind.categories, profile->category()).profiles.push_back(profile);
    }
    sortCatalogue(kind.categories);
}

void DNProfileManager::loadRecent(Kind& kind) const
{
    const QVariantList stored = m_defaults.value(recentKey(kind.profileType)).toList();
    for (const QVariant& entry : stored) {
        const QVariantMap choices = entry.toMap();
        // A profile that is no longer in the catalogue is forgotten.
        const auto profile
            = catalogueProfile(kind, choices.value(QStringLiteral("GlobalID")).toInt());
        if (!profile || int(kind.recent.size()) >= kMaxRecentProfiles)
            continue;
        kind.recent.push_back(profile->copy());
        kind.recent.back()->applyChoices(choices);
    }
}

std::shared_ptr<const DNProfile> DNProfileManager::catalogueProfile(const Kind& kind, int globalID)
{
    for (const DNProfileCategory& category : kind.categories) {
        for (const auto& profile : category.profiles) {
            if (profile->GlobalID() == globalID)
                return profile;
        }
    }
    return nullptr;
}

const std::vector<DNProfileCategory>& DNProfileManager::categoriesOfType(int profileType) const
{
    static const std::vector<DNProfileCategory> none;
    const Kind* kind = kindOf(profileType);
    return kind ? kind->categories : none;
}

std::shared_ptr<DNProfile> DNProfileManager::profileWithGlobalID(int globalID) const
{
    for (const int type : { DNProfileTypeVideo, DNProfileTypeDVD }) {
        if (const auto profile = catalogueProfile(*kindOf(type), globalID))
            return profile->copy();
    }
    return nullptr;
}

std::shared_ptr<DNProfile> DNProfileManager::lastProfileOfType(int profileType, bool sound) const
{
    const Kind* kind = kindOf(profileType);
    if (!kind)
        return nullptr;
    {
        const std::lock_guard lock(m_recentMutex);
        for (const auto& recent : kind->recent)
            if (sound || recent->writesPicture())
                return recent->copy();
    }
    const int firstID = profileType == DNProfileTypeDVD ? kFirstDVDProfileID : kFirstVideoProfileID;
    if (const auto first = catalogueProfile(*kind, firstID))
        return first->copy();
    if (kind->categories.empty())
        return nullptr;
    return kind->categories.front().profiles.front()->copy();
}

std::vector<std::shared_ptr<DNProfile>> DNProfileManager::recentProfilesOfType(
    int profileType) const
{
    std::vector<std::shared_ptr<DNProfile>> copies;
    const Kind* kind = kindOf(profileType);
    if (!kind)
        return copies;
    const std::lock_guard lock(m_recentMutex);
    for (const auto& profile : kind->recent)
        copies.push_back(profile->copy());
    return copies;
}

void DNProfileManager::addRecentProfile(const DNProfile& profile)
{
    Kind* kind = kindOf(profile.profileType());
    if (!kind)
        return;
    const std::lock_guard lock(m_recentMutex);
    std::erase_if(
        kind->recent, [&](const auto& old) { return old->GlobalID() == profile.GlobalID(); });
    kind->recent.insert(kind->recent.begin(), profile.copy());
    if (int(kind->recent.size()) > kMaxRecentProfiles)
        kind->recent.resize(kMaxRecentProfiles);
}

void DNProfileManager::storeRecentProfiles() const
{
    const std::lock_guard lock(m_recentMutex);
    for (const Kind* kind : { &m_video, &m_dvd }) {
        // A kind never asked for keeps what is stored.
        if (!kind->loaded)
            continue;
        QVariantList stored;
        for (const auto& profile : kind->recent)
            stored << profile->choices();
        m_defaults.setValue(recentKey(kind->profileType), stored);
    }
    m_defaults.synchronize();
}
