#include "player/PreviewSubtitle.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Place = PreviewSubtitle::Place;

// What the preview draws at a time of SRT and SSA/ASS texts: the cues on
// screen then, overlapping ones together, in their own letters and without
// styling, where the cue asks to stand.
TEST(PreviewSubtitle, ShowsTheCuesOnScreenAtATime)
{
    const QString srt = QStringLiteral(
        "1\r\n00:00:01,000 --> 00:00:04,000\r\n<i>First</i> line\r\nsecond {\\b1}line\r\n\r\n"
        "2\r\n00:00:02,500 --> 00:00:03,000\r\n{\\an8}Over it\r\n\r\n"
        "3\r\n00:01:00,000 --> 01:00:00,000\r\nLong\r\n");
    const QString ass = QStringLiteral(
        "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\nFormat: Name, Fontname, Fontsize\n"
        "Style: Default,Arial,20\n\n[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
        "Dialogue: 0,0:00:02.00,0:00:05.50,Default,,0,0,0,,Yes, {\\an5}a comma\\Nand more\n"
        "Dialogue: 0,0:00:01.00,0:00:01.50,Default,,0,0,0,,Early\n");
    const struct {
        bool ass;
        double seconds;
        const char* bottom;
        const char* middle = "";
        const char* top = "";
    } cases[] = {
        { false, 0.5, "" },
        { false, 1.0, "First line\nsecond line" },
        { false, 2.7, "First line\nsecond line", "", "Over it" },
        { false, 3.5, "First line\nsecond line" },
        { false, 30, "" },
        { false, 1800, "Long" },
        { true, 1.2, "Early" },
        { true, 1.7, "" },
        { true, 5.49, "", "Yes, a comma\nand more" },
    };
    const PreviewSubtitle fromSrt = PreviewSubtitle::fromText(srt, false);
    const PreviewSubtitle fromAss = PreviewSubtitle::fromText(ass, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.seconds) + (c.ass ? " ass" : " srt"));
        const PreviewSubtitle::Lines lines = (c.ass ? fromAss : fromSrt).textAt(c.seconds);
        EXPECT_EQ(lines[std::size_t(Place::Bottom)].toStdString(), c.bottom);
        EXPECT_EQ(lines[std::size_t(Place::Middle)].toStdString(), c.middle);
        EXPECT_EQ(lines[std::size_t(Place::Top)].toStdString(), c.top);
    }
    // The editor's top takes every cue there.
    EXPECT_EQ(fromSrt.textAt(2.7, Place::Top)[std::size_t(Place::Top)],
        QStringLiteral("First line\nsecond line\nOver it"));
}

// The file is read in the set its track's code page names, as the
// conversion reads it; one whose set cannot be told says why.
TEST(PreviewSubtitle, ReadsTheFileInItsSetOrSaysWhyNot)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("film.srt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1\n00:00:00,000 --> 00:00:02,000\n\xc4\xe0.\n"); // "Да." in windows-1251
    file.close();
    QString failure;
    const std::optional<PreviewSubtitle> subtitle
        = PreviewSubtitle::read(path, QStringLiteral("ru"), failure);
    ASSERT_TRUE(subtitle) << failure.toStdString();
    EXPECT_EQ(subtitle->textAt(1)[std::size_t(Place::Bottom)], QStringLiteral("Да."));
    EXPECT_FALSE(PreviewSubtitle::read(dir.filePath(QStringLiteral("gone.srt")), {}, failure));
    EXPECT_FALSE(failure.isEmpty());
}

} // namespace
