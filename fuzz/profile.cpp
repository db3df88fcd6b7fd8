// Profile files, XML or binary property lists, read the way the catalogue
// loads its folders: the input is the one profile file of a catalogue.
// Whatever the file holds, a profile that loads must offer its choices and
// take them back.
#include "FuzzSupport.h"

#include "platform/UserDefaults.h"
#include "profiles/DNProfileManager.h"

#include <QDir>
#include <QFile>

namespace {

struct Catalogue {
    QString folder;
    QString profilePath;
    UserDefaults defaults;
};

Catalogue& catalogue()
{
    static Catalogue shared = [] {
        const QString folder = Fuzz::privateFolder() + QStringLiteral("/profiles");
        QDir().mkpath(folder + QStringLiteral("/Video"));
        return Catalogue { folder, folder + QStringLiteral("/Video/Fuzzed.plist"),
            UserDefaults(Fuzz::privateFolder() + QStringLiteral("/defaults.conf")) };
    }();
    return shared;
}

void writeProfile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    Fuzz::require(
        file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
        "the profile file could not be written");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Catalogue& shared = catalogue();
    writeProfile(shared.profilePath, Fuzz::bytesOf(data, size));
    const DNProfileManager manager(shared.folder, shared.defaults);
    const std::shared_ptr<DNProfile> profile = manager.lastProfileOfType(DNProfileTypeVideo);
    if (!profile)
        return 0;
    Fuzz::require(manager.profileWithGlobalID(profile->GlobalID()) != nullptr,
        "a loaded profile is not found by its id");
    profile->applyChoices(profile->choices());
    return 0;
}
