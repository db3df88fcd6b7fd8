// The quillon executable: the application object, the delegate, and the
// files named on the command line handed over as if opened from the desktop,
// to the copy already running where there is one.
#include "common/NXDialogs.h"
#include "platform/DNLogger.h"
#include "platform/FatalEndReport.h"
#include "platform/SingleInstance.h"
#include "shell/NXApplicationDelegate.h"

#include <QApplication>
#include <QLocale>

#include <QStringList>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

namespace {

// A running copy that takes no files within this time is taken as hung.
constexpr std::chrono::seconds kHandOverTimeout { 5 };

constexpr const char* kUsage = "Usage: quillon [media files...]\n"
                               "Converts video files for devices and formats; the files named\n"
                               "join the conversion list.\n"
                               "\n"
                               "  -h, --help     print this text and exit\n"
                               "  -v, --version  print the version and exit\n";

bool isSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

QStringList filesNamed(int argc, char** argv)
{
    QStringList files;
    for (int i = 1; i < argc; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    return files;
}

// What can be answered before the application object exists: making one
// without a display aborts the process. A copy already running takes the
// files named and brings its window up; one that does not take them within
// the time limit is hung, and a second window beside it would share its log
// and output folder, so this start ends with a word instead.
std::optional<int> answerWithoutWindow(int argc, char** argv, const SingleInstance::Claim& claim)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version") || !std::strcmp(argv[i], "-v")) {
            std::printf("Quillon %s\n", QUILLON_VERSION);
            return 0;
        }
    }
    if (claim.state() == SingleInstance::Claim::State::HeldElsewhere) {
        if (SingleInstance::handOver(filesNamed(argc, argv), kHandOverTimeout))
            return 0;
        std::fprintf(stderr,
            "quillon: the copy already running did not answer within %lld s; "
            "end it, then start again\n",
            static_cast<long long>(kHandOverTimeout.count()));
        return 1;
    }
    if (!isSet("QT_QPA_PLATFORM") && !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
        std::fputs("quillon: no graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                   "start it from a desktop session or under xvfb-run\n",
            stderr);
        return 1;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    FatalEndReport::install(DNLogger::shareRoughLog().path());
    SingleInstance::Claim claim = SingleInstance::Claim::take();
    if (const std::optional<int> status = answerWithoutWindow(argc, argv, claim))
        return *status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    QApplication::setOrganizationName(QStringLiteral("Farrowby"));
    QApplication::setDesktopFileName(QStringLiteral("quillon"));
    // The interface is written in English only.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

    NXQtDialogs dialogs;
    const NXSystemActions system = NXSystemActions::desktop();
    NXApplicationDelegate delegate(dialogs, system);
    QObject::connect(&delegate, &NXApplicationDelegate::terminated, &application,
        &QCoreApplication::quit, Qt::QueuedConnection);
    delegate.applicationDidFinishLaunching(application.arguments().mid(1));
    delegate.listenForLaterStarts(std::move(claim));
    QApplication::setQuitOnLastWindowClosed(true);
    return application.exec();
}
