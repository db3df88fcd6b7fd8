// Two conversions into one folder at the same time, each in a process of its
// own as two windows would run them: both chose the same free name, and
// each must end with a whole file of its own under the name it reported.
#include "core/engine/ProfileRunTest.h"
#include "fixtures/MediaFacts.h"
#include "fixtures/TestDisc.h"
#include "fixtures/TestMedia.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// One convert-one run: its arguments and how its output is checked.
struct Conversion {
    QStringList arguments;
    std::function<void(const QString& output)> check;
};

// The last output a convert-one run reported.
QString reportedOutput(const QString& printed)
{
    const QStringList lines = printed.split('\n');
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->startsWith("output: "))
            return line->mid(8);
    return {};
}

void expectLength(const QString& output, double seconds)
{
    const MediaFacts facts = MediaFacts::probe(output);
    ASSERT_TRUE(facts.ok) << facts.error.toStdString();
    EXPECT_NEAR(facts.duration, seconds, 0.6) << output.toStdString();
}

class SimultaneousConversions : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(TestMedia::ensure(), QString());
        ASSERT_EQ(TestDisc::ensure(), QString());
    }
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    // A source named clip.mp4 in its own folder, `seconds` long.
    QString clip(const QString& folder, int seconds) const
    {
        const QString path = m_folder.filePath(folder + "/clip.mp4");
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(runFfmpeg({ "-f", "lavfi", "-i",
            QStringLiteral("testsrc2=size=160x120:rate=25:duration=%1").arg(seconds), "-f", "lavfi",
            "-i", QStringLiteral("sine=duration=%1").arg(seconds), "-c:v", "libx264", "-preset",
            "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", path }));
        return path;
    }

    // Starts the runs together into one output folder, where they meet once
    // their builders have named the outputs, and checks each run's output.
    void runTogether(const char* what, const std::vector<Conversion>& runs)
    {
        SCOPED_TRACE(what);
        const QString output = m_folder.filePath(QString(what) + "/out");
        const QString meeting = m_folder.filePath(QString(what) + "/meet");
        QDir().mkpath(output);
        QDir().mkpath(meeting);
        std::vector<std::unique_ptr<QProcess>> processes;
        for (const Conversion& run : runs) {
            auto process = std::make_unique<QProcess>();
            process->start(QStringLiteral(QUILLON_CONVERT_ONE),
                run.arguments + QStringList { "--output", output, "--meet", meeting });
            processes.push_back(std::move(process));
        }
        QStringList named;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            QProcess& process = *processes[i];
            ASSERT_TRUE(process.waitForFinished(180'000));
            const QString printed = QString::fromUtf8(process.readAllStandardOutput());
            EXPECT_EQ(process.exitCode(), 0)
                << printed.toStdString()
                << process.readAllStandardError().right(3000).toStdString();
            named << reportedOutput(printed);
            runs[i].check(named.last());
        }
        named.sort();
        QStringList left = QDir(output).entryList(QDir::Files | QDir::Hidden);
        for (QString& name : left)
            name = QDir(output).filePath(name);
        // Two outputs in the folder under the two names reported, and no
        // hidden partial file left.
        EXPECT_EQ(left.join('\n').toStdString(), named.join('\n').toStdString());
    }

    QTemporaryDir m_folder;
};

TEST_F(SimultaneousConversions, SameNamedOutputsEndWholeUnderTheNamesEachRunReported)
{
    const QString shortClip = clip("a", 2);
    const QString longClip = clip("b", 6);
    const auto file = [](const QString& source, double seconds) {
        return Conversion { { "--profile", "MKV Video (H.264)", source },
            [seconds](const QString& output) { expectLength(output, seconds); } };
    };
    runTogether("file encoder", { file(shortClip, 2), file(longClip, 6) });

    // Title 1 with each of its two sound tracks: 440 Hz and 880 Hz.
    const auto title = [](const char* audio, double tone) {
        return Conversion { { "--dvd", TestDisc::folder(), "--title", "1", "--audio", audio,
                                "--profile", "MPEG-2 with MP2 Sound" },
            [tone](const QString& output) {
                expectLength(output, 12);
                EXPECT_NEAR(firstSecondTone(output), tone, 20) << output.toStdString();
            } };
    };
    runTogether("DVD encoder", { title("1", 440), title("2", 880) });

    const auto backup = [] {
        return Conversion { { "--dvd", TestDisc::palImage(), "--profile", "DVD Disc Backup (ISO)" },
            [](const QString& output) {
                EXPECT_EQ(QFileInfo(output).size(), QFileInfo(TestDisc::palImage()).size());
            } };
    };
    runTogether("disc backup", { backup(), backup() });
}

// The application killed outright while it puts the cover in: the next
// conversion into the folder removes the output and the copy it left.
TEST_F(SimultaneousConversions, WhatAKilledConversionLeftGoesAtTheNextOne)
{
    const QString source = clip("a", 2);
    const QString output = m_folder.filePath("out");
    const QString bin = m_folder.filePath("bin");
    QDir().mkpath(output);
    QDir().mkpath(bin);
    // "AtomicParsley OUTPUT --artwork IMAGE -o COPY": half a copy, then the end.
    ASSERT_TRUE(writeTestScript(bin + "/AtomicParsley",
        "#!/bin/sh\nprintf half > \"$5\"\nkill -KILL $PPID\nexec sleep 30\n"));
    const QStringList arguments { "--profile", "3GP Video (H.264)", source, "--output", output };
    QProcessEnvironment withTagger = QProcessEnvironment::systemEnvironment();
    withTagger.insert("PATH", bin + ":" + withTagger.value("PATH"));
    QProcess killed;
    killed.setProcessEnvironment(withTagger);
    killed.start(QStringLiteral(QUILLON_CONVERT_ONE), arguments);
    ASSERT_TRUE(killed.waitForFinished(120'000));
    ASSERT_EQ(killed.exitStatus(), QProcess::CrashExit);
    ASSERT_EQ(QDir(output).entryList(QDir::Files | QDir::Hidden).size(), 2);

    QProcess next;
    next.start(QStringLiteral(QUILLON_CONVERT_ONE), arguments);
    ASSERT_TRUE(next.waitForFinished(120'000));
    EXPECT_EQ(next.exitCode(), 0) << next.readAllStandardError().right(2000).toStdString();
    EXPECT_EQ(QDir(output).entryList(QDir::Files | QDir::Hidden), QStringList { "clip.3gp" });
}

} // namespace
