// What a trimmed DVD title's run leaves behind, however it ends: its sound
// decoded for mencoder takes 16-bit samples in the temporary folder, a
// folder that fills is named as the reason, and a run ended by a signal, or
// killed outright and swept by the next one, leaves none of its files.
#include "fixtures/TestDisc.h"
#include "platform/RunFolder.h"
#include "support/SmallFileSystem.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int kConversionLimitMs = 300'000;
// How long a killed program's children take to follow it, at most.
constexpr int kEndLimitMs = 30'000;
constexpr const char* kProfile = "1101097"; // H.264 in MP4, its sound finished by ffmpeg
constexpr const char* kTrim = "1-10";

QStringList everythingIn(const QString& folder)
{
    QStringList found;
    QDirIterator entries(folder,
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (entries.hasNext())
        found << entries.next();
    return found;
}

// convert-one on the flash-and-beep disc's title 1, trimmed, its temporary
// folder (TMPDIR) `temporary`.
void startTrim(QProcess& run, const QString& temporary, const QString& output)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", temporary);
    run.setProcessEnvironment(environment);
    run.start(QStringLiteral(QUILLON_CONVERT_ONE),
        { "--dvd", TestDisc::flashAndBeepFolder(), "--title", "1", "--trim", kTrim, "--profile",
            kProfile, "--output", output });
}

// Waits until the run's engine writes its output (a partial that grows);
// false when the run ended first.
bool waitForTheEngine(QProcess& run, const QString& output)
{
    QElapsedTimer waited;
    waited.start();
    while (run.state() != QProcess::NotRunning && waited.elapsed() < kConversionLimitMs) {
        for (const QFileInfo& file : QDir(output).entryInfoList(QDir::Files | QDir::Hidden)) {
            if (file.fileName().contains(".partial") && file.size() > 0)
                return true;
        }
        run.waitForFinished(10);
    }
    return false;
}

// The programs still running whose command line names `path`.
QStringList programsNaming(const QString& path)
{
    QStringList found;
    const QByteArray needle = QFile::encodeName(path);
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile commandLine("/proc/" + pid + "/cmdline");
        if (pid.toInt() > 0 && pid.toInt() != ::getpid() && commandLine.open(QIODevice::ReadOnly)) {
            const QByteArray words = commandLine.read(1 << 16);
            if (words.contains(needle))
                found << pid + ": " + QString::fromUtf8(words).replace(QChar(0), ' ');
        }
    }
    return found;
}

bool noProgramNames(const QString& path)
{
    QElapsedTimer waited;
    waited.start();
    while (!programsNaming(path).isEmpty() && waited.elapsed() < kEndLimitMs)
        QThread::msleep(20);
    return programsNaming(path).isEmpty();
}

// The sound of a trim from 1 s to 10 s takes 2 MB at 16 bits, twice that at
// 32: 3 MB of temporary room hold it, 1 MB does not, and the run that
// fills it says so, naming the folder; whichever way, it leaves nothing.
TEST(DVDTrim, TheTrimsSoundTakes16BitSamplesAndAFullTemporaryFolderIsTheReason)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString temporary = folder.filePath("tmp");
    const QString output = folder.filePath("out");
    ASSERT_TRUE(QDir().mkpath(temporary) && QDir().mkpath(output));
    const struct {
        const char* size;
        bool fits;
    } rooms[] = { { "3m", true }, { "1m", false } };
    for (const auto& room : rooms) {
        SCOPED_TRACE(room.size);
        const SmallFileSystem small(temporary, room.size);
        if (!small.isMounted())
            GTEST_SKIP() << "cannot mount a small file system here (needs root)";
        QProcess run;
        startTrim(run, temporary, output);
        ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
        const QString said = QString::fromUtf8(run.readAllStandardError());
        if (room.fits) {
            EXPECT_EQ(run.exitCode(), 0) << qPrintable(said.right(3000));
            EXPECT_EQ(QDir(output).entryList(QDir::Files).size(), 1);
        } else {
            EXPECT_EQ(run.exitCode(), 1) << qPrintable(said.right(3000));
            EXPECT_TRUE(said.contains("the temporary folder \"" + temporary))
                << qPrintable(said.right(3000));
            EXPECT_TRUE(everythingIn(output).isEmpty())
                << qPrintable(everythingIn(output).join(' '));
        }
        EXPECT_TRUE(everythingIn(temporary).isEmpty())
            << qPrintable(everythingIn(temporary).join(' '));
        for (const QString& made : QDir(output).entryList(QDir::Files))
            QFile::remove(QDir(output).filePath(made));
    }
}

// SIGTERM and SIGINT while the engine writes: the tool ends its run as a
// stop does, with the signal's status, and its decoded sound, edit list,
// home and unfinished output are gone, its engines with them.
TEST(DVDTrim, ASignalEndsATrimmedRunAndLeavesNothing)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    for (const int signal : { SIGTERM, SIGINT }) {
        SCOPED_TRACE(signal);
        QTemporaryDir temporary;
        QTemporaryDir output;
        ASSERT_TRUE(temporary.isValid() && output.isValid());
        QProcess run;
        startTrim(run, temporary.path(), output.path());
        ASSERT_TRUE(waitForTheEngine(run, output.path()))
            << run.readAllStandardError().toStdString();
        ASSERT_EQ(::kill(pid_t(run.processId()), signal), 0);
        ASSERT_TRUE(run.waitForFinished(kConversionLimitMs));
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.exitCode(), 128 + signal);
        EXPECT_TRUE(everythingIn(output.path()).isEmpty())
            << qPrintable(everythingIn(output.path()).join(' '));
        EXPECT_TRUE(everythingIn(temporary.path()).isEmpty())
            << qPrintable(everythingIn(temporary.path()).join(' '));
        EXPECT_TRUE(noProgramNames(temporary.path()))
            << qPrintable(programsNaming(temporary.path()).join('\n'));
    }
}

// A run killed outright cannot remove its files: its run's folder, marked
// as a process's that has ended, is removed by the next run of the encoder
// core, its home by the next start of the tool, its partial output by the
// next conversion into its folder; nothing of anyone else's is touched.
TEST(DVDTrim, ARunKilledOutrightIsSweptByTheNext)
{
    const QString disc = TestDisc::ensureFlashAndBeep();
    ASSERT_TRUE(disc.isEmpty()) << qPrintable(disc);
    QTemporaryDir temporary;
    QTemporaryDir output;
    ASSERT_TRUE(temporary.isValid() && output.isValid());
    QProcess killed;
    startTrim(killed, temporary.path(), output.path());
    ASSERT_TRUE(waitForTheEngine(killed, output.path()))
        << killed.readAllStandardError().toStdString();
    ASSERT_EQ(::kill(pid_t(killed.processId()), SIGKILL), 0);
    ASSERT_TRUE(killed.waitForFinished(kEndLimitMs));
    ASSERT_TRUE(noProgramNames(temporary.path()));

    // The killed tool's own temporary folder, as the encoder core sees it.
    const QStringList homes = QDir(temporary.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(homes.size(), 1);
    const QString runs = temporary.filePath(homes.front() + "/tmp");
    const QStringList left = QDir(runs).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(left.size(), 1) << "the killed run's folder";
    ASSERT_TRUE(QDir().mkpath(runs + "/quillon-encoder-someone")); // no mark: not ours
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(runs));
    const QStringList removed = RunFolder::removeAbandoned(QStringLiteral("quillon-encoder-"));
    qputenv("TMPDIR", saved);
    EXPECT_EQ(removed.join(' '), runs + "/" + left.front());
    EXPECT_EQ(QDir(runs).entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(' '),
        "quillon-encoder-someone");

    QProcess next;
    startTrim(next, temporary.path(), output.path());
    ASSERT_TRUE(next.waitForFinished(kConversionLimitMs));
    ASSERT_EQ(next.exitCode(), 0) << next.readAllStandardError().right(3000).toStdString();
    EXPECT_EQ(everythingIn(output.path()).size(), 1)
        << qPrintable(everythingIn(output.path()).join(' '));
    EXPECT_TRUE(everythingIn(temporary.path()).isEmpty())
        << qPrintable(everythingIn(temporary.path()).join(' '));
}

} // namespace
