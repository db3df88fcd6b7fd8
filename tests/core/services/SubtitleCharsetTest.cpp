#include "services/SubtitleCharset.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kSubtitle = QStringLiteral(
    "1\n00:00:01,000 --> 00:00:02,000\nCafé crème, déjà vu à l'hôtel. Ça a été très élégant.\n\n"
    "2\n00:00:03,000 --> 00:00:04,000\nAprès-midi, le garçon a préféré la crème brûlée et le "
    "pâté. Où êtes-vous? Déçu, il s'arrêta près de la fenêtre.\n");

QByteArray encoded(QStringConverter::Encoding encoding, bool bom)
{
    QStringEncoder encoder(
        encoding, bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
    return encoder.encode(kSubtitle);
}

struct CharsetCase {
    const char* what;
    QByteArray bytes;
    QStringList accepted; // names the detector may give, upper-cased
};

// The name goes to the engine's charset conversion as it stands, so it must
// be one of the names of the file's real encoding.
TEST(SubtitleCharset, DetectsTheEncodingsSubtitlesComeIn)
{
    const CharsetCase cases[] = {
        { "UTF-8", encoded(QStringConverter::Utf8, false), { "UTF-8" } },
        { "Latin-1", encoded(QStringConverter::Latin1, false),
            { "ISO-8859-1", "WINDOWS-1252", "ISO-8859-15" } },
        { "UTF-16 little endian with BOM", encoded(QStringConverter::Utf16LE, true),
            { "UTF-16", "UTF-16LE" } },
        { "UTF-16 big endian with BOM", encoded(QStringConverter::Utf16BE, true),
            { "UTF-16", "UTF-16BE" } },
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const CharsetCase& c : cases) {
        const QString path = dir.filePath(QStringLiteral("sub.srt"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        const QString charset = detectFileCharset(path);
        EXPECT_TRUE(c.accepted.contains(charset.toUpper()))
            << c.what << ": " << charset.toStdString();
    }
}

// A subtitle of one short line has too few letters for the detector's
// statistics; read in the set it names, it must still give its own words.
TEST(SubtitleCharset, AShortLineReadsInItsOwnLetters)
{
    const struct {
        QString text;
        QStringConverter::Encoding encoding;
    } cases[] = {
        { QStringLiteral("Un café"), QStringConverter::Utf8 },
        { QStringLiteral("café"), QStringConverter::Utf8 },
        { QStringLiteral("Un café"), QStringConverter::Latin1 },
    };
    for (const auto& c : cases) {
        const QString cue = "1\n00:00:00,000 --> 00:00:30,000\n" + c.text + "\n\n";
        const QByteArray bytes = QStringEncoder(c.encoding).encode(cue);
        const QString charset = detectCharset(bytes);
        QStringDecoder decoder(charset.toLatin1().constData());
        ASSERT_TRUE(decoder.isValid()) << charset.toStdString();
        EXPECT_EQ(QString(decoder.decode(bytes)).toStdString(), cue.toStdString())
            << charset.toStdString();
    }
}

// The bytes in UTF-8 as the iconv program reads them in `charset`, as the
// engines given the name do.
QByteArray readByIconv(const QByteArray& bytes, const QString& charset)
{
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"), { "-f", charset, "-t", "UTF-8" });
    iconv.write(bytes);
    iconv.closeWriteChannel();
    return iconv.waitForFinished(60'000) && iconv.exitCode() == 0 ? iconv.readAllStandardOutput()
                                                                  : QByteArray();
}

// A line of a few letters in an older set, with what else is known of its
// language: the editor's choice or the file name's tag. Either it reads back
// in its own letters, or it is refused with a reason; never another
// alphabet's letters.
TEST(SubtitleCharset, AFewLettersReadInTheirOwnAlphabetOrAreRefused)
{
    const struct {
        QString text;
        const char* set;
        const char* fileName;
        QString chosen; // the editor's language
        bool told;
    } cases[] = {
        { QStringLiteral("Нет!"), "windows-1251", "film.srt", "en", true },
        { QStringLiteral("Нет!"), "windows-1251", "film.ru.srt", "en", true },
        { QStringLiteral("Нет!"), "KOI8-R", "film.rus.srt", "en", true },
        { QStringLiteral("Жёлтый"), "windows-1251", "film.srt", "en", false },
        { QStringLiteral("Жёлтый"), "windows-1251", "film.ru.srt", "en", true },
        { QStringLiteral("Жёлтый"), "KOI8-R", "film.ru.srt", "en", true },
        { QStringLiteral("Жёлтый"), "windows-1251", "film.uk.srt", "en", true },
        { QStringLiteral("你好"), "GBK", "film.srt", "en", false },
        { QStringLiteral("你好"), "GBK", "film.srt", "zh-Hans", true },
        { QStringLiteral("你好"), "GBK", "film.zh.srt", "en", true },
        { QStringLiteral("你好"), "Big5", "film.zh-TW.srt", "en", true },
        { QStringLiteral("Άλφα"), "windows-1253", "film.el.srt", "en", true },
        { QStringLiteral("שלום"), "windows-1255", "film.srt", "en", true },
        { QStringLiteral("Спасибо"), "KOI8-R", "film.srt", "en", false },
        { QStringLiteral("Où?"), "ISO-8859-1", "film.srt", "fr", true },
        { QStringLiteral("日本"), "Shift_JIS", "film.ja.srt", "en", true },
        { QStringLiteral("謝謝"), "Big5", "film.srt", "en", false },
        // Lines the detectors alone already read right.
        { QStringLiteral("Ναι!"), "windows-1253", "film.srt", "en", true },
        { QStringLiteral("Γεια σου"), "windows-1253", "film.srt", "en", true },
        { QStringLiteral("Un café"), "ISO-8859-1", "film.srt", "en", true },
        { QStringLiteral("Déjà vu, à l'hôtel"), "ISO-8859-1", "film.srt", "fr", true },
        { QStringLiteral("こんにちは"), "Shift_JIS", "film.srt", "en", true },
        { QStringLiteral("ありがとう"), "Shift_JIS", "film.srt", "en", true },
        { QStringLiteral("감사합니다"), "EUC-KR", "film.srt", "en", true },
        { QStringLiteral("תודה"), "windows-1255", "film.srt", "en", true },
        { QStringLiteral("Teşekkürler"), "windows-1254", "film.srt", "en", true },
        { QStringLiteral("Un café"), "UTF-8", "film.srt", "en", true },
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " in " + c.set + ", " + c.fileName + ", "
            + c.chosen.toStdString());
        const QString cue = "1\n00:00:00,000 --> 00:00:30,000\n" + c.text + "\n\n";
        const QByteArray bytes = QStringEncoder(c.set).encode(cue);
        const QString path = dir.filePath(QString::fromLatin1(c.fileName));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        const QString codePage = subtitleFileCodePage(path, c.chosen);
        const QString doubt = subtitleFileCharsetDoubt(path, c.chosen);
        if (!c.told) {
            EXPECT_EQ(codePage, QString());
            EXPECT_TRUE(doubt.contains(QLatin1String("cannot be told"))) << doubt.toStdString();
            continue;
        }
        EXPECT_EQ(doubt, QString());
        EXPECT_EQ(readByIconv(bytes, codePage).toStdString(), cue.toUtf8().toStdString())
            << codePage.toStdString();
    }
}

// `text` as the C library's converter writes it in `charset`.
QByteArray writtenByIconv(const QString& text, const char* charset)
{
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"), { "-f", "UTF-8", "-t", charset });
    iconv.write(text.toUtf8());
    iconv.closeWriteChannel();
    return iconv.waitForFinished(60'000) && iconv.exitCode() == 0 ? iconv.readAllStandardOutput()
                                                                  : QByteArray();
}

// The code page goes to the player's converter, the C library's, as it
// stands: it must read the whole file in its own letters, the backslash of
// an override tag, the tilde and the letters of a wider set included. A
// large file is told by its lines beyond ASCII, wherever they are.
TEST(SubtitleCharset, TheCodePageReadsTheWholeFileInTheCLibrary)
{
    const QString ascii = QStringLiteral("1\n00:00:00,000 --> 00:00:01,000\nJust ASCII here.\n\n")
                              .repeated(200'000);
    const struct {
        QString lines;
        const char* set;
        QString before = {}; // text ahead of the cues
    } cases[] = {
        { QStringLiteral("{\\an8}日本語の字幕です。\\N~です\nC:\\映画\\字幕~1.srt"), "CP932" },
        { QStringLiteral("①日本語の字幕です。\n②次の行です。"), "EUC-JP-MS" },
        { QStringLiteral("係咪㗎？我哋去飲茶啦。\n佢哋喺度傾偈。"), "BIG5-HKSCS" },
        { QStringLiteral("똠얌꿍이 정말 맛있어요.\n감사합니다. 내일 봐요."), "CP949" },
        { QStringLiteral("Mąka, ręka, łąka i żółw.\nMąka, ręka, łąka i żółw."), "CP1250" },
        { QStringLiteral("Άλφα και Ωμέγα"), "CP1253" },
        { QStringLiteral("Привет, как дела?"), "UTF-16LE" },
        { QStringLiteral("Привет, как дела?"), "UTF-16BE" },
        { QStringLiteral("Привет, как дела?\nХорошо, спасибо."), "CP1251", ascii },
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.set) + " " + c.lines.left(20).toStdString());
        QString text = c.before;
        for (const QString& line : c.lines.split('\n'))
            text += QStringLiteral("2\n00:00:01,000 --> 00:00:02,000\n%1\n\n").arg(line);
        const QByteArray bytes = writtenByIconv(text, c.set);
        ASSERT_FALSE(bytes.isEmpty());
        const QString path = dir.filePath(QStringLiteral("film.srt"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        file.close();
        const QString codePage = subtitleFileCodePage(path, QStringLiteral("en"));
        EXPECT_TRUE(readByIconv(bytes, codePage) == text.toUtf8()) << codePage.toStdString();
    }
}

TEST(SubtitleCharset, UnreadableOrEmptyGivesNoName)
{
    EXPECT_EQ(detectFileCharset(QStringLiteral("/nonexistent/sub.srt")), QString());
    EXPECT_EQ(detectCharset(QByteArray()), QString());
}

TEST(SubtitleCharset, FindsSubtitlesSharingTheMediaName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList names = { "film [1].mkv", "film [1].srt", "film [1].ASS", "film [1].txt",
        "film [1].en.srt", "film.srt", "other.srt" };
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir("film [1].ssa")); // a folder is no subtitle
    EXPECT_EQ(externalSubtitleFiles(dir.filePath("film [1].mkv")),
        QStringList({ dir.filePath("film [1].ASS"), dir.filePath("film [1].srt") }));
}

} // namespace
