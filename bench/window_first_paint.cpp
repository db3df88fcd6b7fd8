// Time from process start to the first painted main window: this program
// starts itself again as the application would start (same setup as the
// quillon executable, no files) and reads the moment the child has painted.
// Run by hand under a display or with QT_QPA_PLATFORM=offscreen:
//   build/<dir>/bench/window_first_paint [runs]
#include "common/NXDialogs.h"
#include "shell/NXApplicationDelegate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr auto kChildArgument = "--paint-once";
constexpr int kDefaultRuns = 15;
constexpr int kTargetMs = 300;

// Ends the child once the first paint of any window has been done.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || m_seen)
            return QObject::eventFilter(watched, event);
        m_seen = true;
        // Queued: it runs once the paint that is starting has reached the screen.
        QTimer::singleShot(0, [] {
            std::puts("painted");
            std::fflush(stdout);
            QCoreApplication::quit();
        });
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

int runChild(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillon"));
    QApplication::setOrganizationName(QStringLiteral("Farrowby"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    NXQtDialogs dialogs;
    const NXSystemActions system = NXSystemActions::desktop();
    NXApplicationDelegate delegate(dialogs, system);
    FirstPaint watcher;
    application.installEventFilter(&watcher);
    delegate.applicationDidFinishLaunching({});
    return QApplication::exec();
}

// One start of the child; the milliseconds until it said it painted, or -1.
double timeOneStart(const QString& program, const QProcessEnvironment& environment)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    child.start(program, { QString::fromLatin1(kChildArgument) });
    while (child.waitForReadyRead(10'000)) {
        if (child.readAll().contains("painted")) {
            const double ms = double(timer.nsecsElapsed()) / 1e6;
            child.waitForFinished(10'000);
            return ms;
        }
    }
    child.kill();
    child.waitForFinished();
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], kChildArgument) == 0)
        return runChild(argc, argv);
    const auto runCount
        = bench::numberArgument(argc, argv, kDefaultRuns, "window_first_paint [runs]");
    if (!runCount)
        return 2;
    const int runs = int(*runCount);
    const QString program = QString::fromLocal8Bit(argv[0]);

    // The children keep their settings and log in a folder of their own.
    const QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    environment.insert("XDG_DATA_HOME", home.path() + "/.local/share");
    environment.insert("XDG_CACHE_HOME", home.path() + "/.cache");

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = timeOneStart(program, environment);
        if (ms < 0) {
            std::fprintf(stderr, "the window was not painted (is there a display?)\n");
            return 1;
        }
        times.push_back(ms);
    }
    const double first = times.front();
    std::sort(times.begin(), times.end());
    std::printf("platform: %s, runs: %d\n",
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ? "default"
                                                       : qgetenv("QT_QPA_PLATFORM").constData(),
        runs);
    std::printf("process start to first paint: first run %.1f ms, median %.1f ms, worst %.1f ms "
                "(target: under %d ms)\n",
        first, times[times.size() / 2], times.back(), kTargetMs);
    return 0;
}
