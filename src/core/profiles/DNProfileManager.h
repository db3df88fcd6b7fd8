#pragma once

#include "profiles/DNProfile.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class UserDefaults;

struct DNProfileCategory {
    QString name;
    std::vector<std::shared_ptr<const DNProfile>> profiles;
};

// The catalogue of output profiles: the profile files of profiles/Video and
// profiles/DVD grouped by category, and the profiles the user picked last.
// Each kind's folder is read when that kind is first asked for, so that a
// start that needs only video profiles does not parse the DVD ones. A
// profile file that cannot be used is logged and left out; the rest loads.
// The catalogue never changes after loading; the catalogue and the recent
// profiles may be read and changed from any thread.
class DNProfileManager {
public:
    static constexpr int kMaxRecentProfiles = 8;

    // The catalogue of the program's resources, loaded on first use.
    static DNProfileManager& profileManager();

    // The catalogue of `profilesFolder`/Video and `dvdProfilesFolder` (by
    // default `profilesFolder`/DVD; the program's own are made by the build),
    // with the recent profiles stored in `defaults`.
    DNProfileManager(const QString& profilesFolder, UserDefaults& defaults,
        const QString& dvdProfilesFolder = QString());

    // The categories of one kind, by name, each with its profiles by name.
    const std::vector<DNProfileCategory>& categoriesOfType(int profileType) const;
    // A copy of the catalogue's profile with that id, or null.
    std::shared_ptr<DNProfile> profileWithGlobalID(int globalID) const;

    // What an entry gets before any profile was picked: a general H.264 video
    // (Matroska for files and albums, MP4 for DVD titles), not a device's.
    static constexpr int kFirstVideoProfileID = 2102;
    static constexpr int kFirstDVDProfileID = 1105002;

    // A copy of the profile of that kind picked last, with the user's choices;
    // the kind's first profile above before any was picked (the first of the
    // catalogue when that one is missing); null for other kinds. Without
    // `sound`, the latest picked that writes a picture: an audio-only output
    // of a source without sound fails.
    std::shared_ptr<DNProfile> lastProfileOfType(int profileType, bool sound = true) const;
    // Copies of the recent profiles of that kind, the latest first.
    std::vector<std::shared_ptr<DNProfile>> recentProfilesOfType(int profileType) const;
    // Makes the profile the latest of its kind.
    void addRecentProfile(const DNProfile& profile);
    // Writes the recent profiles to the user defaults.
    void storeRecentProfiles() const;

private:
    struct Kind {
        Kind(int type, QString folderPath)
            : profileType(type)
            , folder(std::move(folderPath))
        { }

        const int profileType;
        const QString folder;
        std::once_flag loading;
        // Set once the folder and the recent profiles are read.
        std::atomic<bool> loaded = false;
        std::vector<DNProfileCategory> categories;
        std::vector<std::shared_ptr<DNProfile>> recent;
    };

    // The kind, loaded; null for other profile types.
    Kind* kindOf(int profileType) const;
    void load(Kind& kind) const;
    static void loadFolder(Kind& kind);
    void loadRecent(Kind& kind) const;
    static std::shared_ptr<const DNProfile> catalogueProfile(const Kind& kind, int globalID);

    UserDefaults& m_defaults;
    mutable Kind m_video;
    mutable Kind m_dvd;
    mutable std::mutex m_recentMutex;
};
