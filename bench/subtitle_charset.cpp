// What telling the character set of a large subtitle file costs where the
// editor asks it, on the window's thread: a 13 MB windows-1251 SRT file,
// read and told as the editor's choice of a subtitle file does. Target: under
// 100 ms median, so that the window keeps answering while a large file is
// chosen. (The engines' copy reads the whole file in that set later, off the
// window's thread.)
//
//   build/<dir>/bench/subtitle_charset
#include "services/SubtitleCharset.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

namespace {

constexpr qsizetype kFileBytes = 13'000'000;

// A film's worth of Cyrillic cues, over and over, to `bytes` in windows-1251.
QByteArray largeSubtitle()
{
    const QStringList lines = { QStringLiteral("Привет, как дела? Хорошо, спасибо."),
        QStringLiteral("Сегодня вечером мы идём в кино, друг."),
        QStringLiteral("Завтра утром будет дождь и холодный ветер.") };
    QString text;
    for (int cue = 1; text.size() < kFileBytes; ++cue)
        text += QStringLiteral("%1\n00:%2:%3,000 --> 00:%2:%3,900\n%4\n\n")
                    .arg(cue)
                    .arg(cue / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(cue % 60, 2, 10, QLatin1Char('0'))
                    .arg(lines[cue % lines.size()]);
    return QStringEncoder("windows-1251")(text);
}

void CodePageOfLargeSubtitle(benchmark::State& state)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("large.srt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(largeSubtitle()) < kFileBytes) {
        state.SkipWithError("the subtitle file could not be written");
        return;
    }
    file.close();
    for (auto _ : state) {
        const QString codePage = subtitleFileCodePage(path, QString());
        if (codePage != QLatin1String("WINDOWS-1251") && codePage != QLatin1String("windows-1251"))
            state.SkipWithError("the set told is not windows-1251");
        benchmark::DoNotOptimize(codePage);
    }
}

BENCHMARK(CodePageOfLargeSubtitle)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    return bench::runBenchmarks(&argc, argv);
}
