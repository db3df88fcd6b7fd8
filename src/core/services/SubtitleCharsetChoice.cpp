#include "services/SubtitleCharsetChoice.h"

#include "services/SubtitleCharset.h"

#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>

#include <iconv.h>
#include <uchardet.h>
#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The alphabets and scripts a subtitle is written in, as its letters beyond
// ASCII show them.
enum class Writing { Latin, Cyrillic, Greek, Hebrew, Arabic, Thai, Chinese, Japanese, Korean };

const char* writingName(Writing writing)
{
    static const char* const names[] = { "Latin", "Cyrillic", "Greek", "Hebrew", "Arabic", "Thai",
        "Chinese", "Japanese", "Korean" };
    return names[static_cast<int>(writing)];
}

// The older sets a language is written in, most used first, the writing
// their reading must give, and the tag of a file name that says it.
struct LanguageSets {
    std::vector<QLocale::Language> languages;
    bool traditionalChinese = false;
    QStringList sets;
    std::vector<Writing> writings;
    const char* tag = "";
};

const std::vector<LanguageSets>& languageSets()
{
    using L = QLocale;
    static const std::vector<LanguageSets> table = {
        { { L::Russian, L::Ukrainian, L::Belarusian, L::Bulgarian, L::Serbian, L::Macedonian },
            false, { "windows-1251", "KOI8-R", "ISO-8859-5", "IBM866" }, { Writing::Cyrillic },
            "ru" },
        { { L::Greek }, false, { "windows-1253", "ISO-8859-7" }, { Writing::Greek }, "el" },
        { { L::Chinese }, false, { "GB18030", "Big5" }, { Writing::Chinese }, "zh" },
        { { L::Chinese }, true, { "Big5", "GB18030" }, { Writing::Chinese }, "zh-TW" },
        { { L::Japanese }, false, { "CP932", "EUC-JP" }, { Writing::Japanese, Writing::Chinese },
            "ja" },
        { { L::Korean }, false, { "CP949" }, { Writing::Korean }, "ko" },
        { { L::Hebrew }, false, { "windows-1255", "ISO-8859-8" }, { Writing::Hebrew }, "he" },
        { { L::Arabic, L::Persian }, false, { "windows-1256", "ISO-8859-6" }, { Writing::Arabic },
            "ar" },
        { { L::Thai }, false, { "TIS-620" }, { Writing::Thai }, "th" },
        { { L::Turkish }, false, { "windows-1254", "ISO-8859-9" }, { Writing::Latin }, "tr" },
        { { L::Polish, L::Czech, L::Slovak, L::Hungarian, L::Slovenian, L::Croatian, L::Romanian,
              L::Bosnian },
            false, { "windows-1250", "ISO-8859-2" }, { Writing::Latin }, "pl" },
        { { L::Lithuanian, L::Latvian, L::Estonian }, false, { "windows-1257", "ISO-8859-13" },
            { Writing::Latin }, "lt" },
        { { L::Vietnamese }, false, { "windows-1258" }, { Writing::Latin }, "vi" },
        // English needs no letter beyond ASCII, and is where every subtitle's
        // language starts: it says nothing of a set.
        { { L::French, L::German, L::Italian, L::Portuguese, L::Spanish, L::Dutch, L::Danish,
              L::Swedish, L::NorwegianBokmal, L::NorwegianNynorsk, L::Finnish, L::Icelandic,
              L::Catalan, L::Galician, L::Basque, L::Irish },
            false, { "windows-1252", "ISO-8859-15" }, { Writing::Latin }, "fr" },
    };
    return table;
}

// The sets of a language code ("ru", "zh-Hant", "chi"); null when none is known.
const LanguageSets* setsOfLanguage(const QString& code)
{
    static const QRegularExpression separators(QStringLiteral("[-_]"));
    const QStringList parts = code.trimmed().toLower().split(separators);
    const QLocale::Language language = QLocale::codeToLanguage(
        parts.first(), QLocale::ISO639Part1 | QLocale::ISO639Part2B | QLocale::ISO639Part2T);
    const bool traditional = language == QLocale::Chinese
        && std::any_of(parts.begin() + 1, parts.end(), [](const QString& part) {
               return QStringList { "hant", "tw", "hk", "mo" }.contains(part);
           });
    for (const LanguageSets& row : languageSets()) {
        if (row.traditionalChinese == traditional
            && std::find(row.languages.begin(), row.languages.end(), language)
                != row.languages.end())
            return &row;
    }
    return nullptr;
}

bool iconvKnows(const QByteArray& set)
{
    const iconv_t converter = ::iconv_open("UTF-8", set.constData());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    ::iconv_close(converter);
    return true;
}

// A name of `set` the C library's converter knows, as the engines and the
// preview's player pass the code page to it: the second detector's
// "ISO-8859-8-I" becomes "ISO-8859-8".
QString nameTheEnginesKnow(const QString& set)
{
    if (iconvKnows(set.toLatin1()))
        return set;
    UErrorCode status = U_ZERO_ERROR;
    const uint16_t count = ucnv_countAliases(set.toLatin1().constData(), &status);
    for (uint16_t i = 0; U_SUCCESS(status) && i < count; ++i) {
        const char* const alias = ucnv_getAlias(set.toLatin1().constData(), i, &status);
        if (U_SUCCESS(status) && iconvKnows(alias))
            return QString::fromLatin1(alias);
    }
    return set;
}

// The bytes read in `set` as the engines will read them; nothing when the set
// is unknown or they are not valid in it.
std::optional<QString> decoded(const QByteArray& bytes, const QString& set)
{
    const std::optional<QByteArray> text = subtitleTextInUtf8(bytes, set);
    return text ? std::optional<QString>(QString::fromUtf8(*text)) : std::nullopt;
}

// A set's name without case and punctuation: the detectors say "SHIFT_JIS",
// "Shift_JIS" or "windows-1252" for the names the table below holds.
QString keyOf(const QString& set)
{
    QString key = set.toUpper();
    key.remove(QLatin1Char('-'));
    key.remove(QLatin1Char('_'));
    return key;
}

// The sets a name of a family of sets is read in, in order: first the one
// subtitle files of the family are written in, then one that reads more of
// their bytes where a file holds a character the first lacks. The C
// library's SHIFT_JIS reads `\` and `~` as the yen sign and the overline,
// which breaks every override tag and line break ("{\an8}", "\N"), and lacks
// the circled numbers Japanese subtitles use; Microsoft's CP932, which the
// files are written in, keeps both, and EUC-JP-MS is EUC-JP with the same
// letters. The C library's EUC-JP, Big5 (which holds Microsoft's CP950
// already), EUC-KR and GB18030 keep ASCII. CP949 and GB18030 read every
// character of EUC-KR and GBK as those do; Big5-HKSCS reads a few
// punctuation marks of Big5 otherwise, so it is tried only for a file Big5
// does not read. The engines and the player's converter (the C library's)
// are given the name that read the file.
struct SetFamily {
    QStringList keys;
    QStringList readIn;
};

const std::vector<SetFamily>& setFamilies()
{
    static const std::vector<SetFamily> families = {
        { { "SHIFTJIS", "SJIS", "MSKANJI", "CSSHIFTJIS", "WINDOWS31J", "CP932" }, { "CP932" } },
        { { "EUCKR", "CP949", "UHC" }, { "CP949", "EUC-KR" } },
        { { "GB2312", "GBK", "EUCCN", "CP936", "GB18030" }, { "GB18030" } },
        { { "BIG5", "CP950" }, { "BIG5", "BIG5-HKSCS" } },
        { { "EUCJP", "EUCJPMS" }, { "EUC-JP-MS", "EUC-JP" } },
    };
    return families;
}

const SetFamily* familyOf(const QString& set)
{
    const QString key = keyOf(set);
    for (const SetFamily& family : setFamilies()) {
        if (family.keys.contains(key) || family.readIn.contains(set, Qt::CaseInsensitive))
            return &family;
    }
    return nullptr;
}

QStringList setsToReadIn(const QString& set)
{
    const SetFamily* family = familyOf(set);
    return family ? family->readIn : QStringList { set };
}

bool isSameSet(const QString& one, const QString& other)
{
    const SetFamily* family = familyOf(one);
    return family ? family == familyOf(other) : keyOf(one) == keyOf(other);
}

// The Windows set laid out as the ISO set `set` is for most of its letters.
// A detector names the ISO set whenever no byte 0x80-0x9F occurs, where the
// Windows set keeps its quotes and a few letters; that is no evidence
// against the Windows set, in which subtitle files are far more often
// written.
QString windowsSetOf(const QString& set)
{
    static const std::pair<const char*, const char*> pairs[] = {
        { "ISO88591", "windows-1252" },
        { "ISO885915", "windows-1252" },
        { "ISO88592", "windows-1250" },
        { "ISO88597", "windows-1253" },
        { "ISO88598", "windows-1255" },
        { "ISO88598I", "windows-1255" },
        { "ISO88599", "windows-1254" },
        { "ISO885913", "windows-1257" },
    };
    const QString key = keyOf(set);
    for (const auto& [iso, windows] : pairs) {
        if (key == QLatin1String(iso))
            return QString::fromLatin1(windows);
    }
    return {};
}

bool hasWindowsOnlyBytes(const QByteArray& bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char byte) {
        const auto value = static_cast<unsigned char>(byte);
        return value >= 0x80 && value <= 0x9F;
    });
}

// A character beyond ASCII that no subtitle holds, which only a wrong set
// makes of its bytes: controls, unassigned and private places, and the
// box-drawing pieces of DOS. (A control in ASCII, such as an old file's end
// mark, reads the same in every set.)
bool isForeign(char32_t c)
{
    if (c < 0x80)
        return false;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_PrivateUse
        || category == QChar::Other_NotAssigned || category == QChar::Other_Surrogate || c == 0xFFFD
        || (c >= 0x2500 && c <= 0x259F);
}

// A sign beyond ASCII that text seldom holds: not a letter, digit or space,
// nor the quotes, dashes and marks of the scripts' own typography.
bool isOddSign(char32_t c)
{
    static const std::u32string typographic = U"«»‹›“”„‘’–—…·•°№¡¿€£¥©®™§′″";
    if (c < 0x80 || QChar::isLetterOrNumber(c) || QChar::isMark(c) || QChar::isSpace(c))
        return false;
    return typographic.find(c) == std::u32string::npos && !(c >= 0x3000 && c <= 0x303F)
        && !(c >= 0xFF00 && c <= 0xFFEF) && c != 0x30FB;
}

bool isAlphabet(QChar::Script script)
{
    return script == QChar::Script_Latin || script == QChar::Script_Cyrillic
        || script == QChar::Script_Greek || script == QChar::Script_Hebrew
        || script == QChar::Script_Arabic || script == QChar::Script_Thai;
}

// A sign that joins the letters of a word: apostrophes, quotes, hyphens and
// dashes, the ellipsis, middle dots ("l·l") and the Hebrew geresh and
// gershayim. Any other sign beyond ASCII between two letters of an alphabet
// is a letter of another set read wrong ("M¹ka", "mo¿e", "ó³w").
bool joinsWords(char32_t c)
{
    static const std::u32string joiners = U"’‘ʼ‚„“”‐‑‒–—…·‧׳״";
    return joiners.find(c) != std::u32string::npos;
}

bool isAlphabetLetter(char32_t c)
{
    return QChar::isLetter(c) && isAlphabet(QChar::script(c));
}

// One run of letters.
struct Word {
    int letters = 0;
    bool ascii = false; // an ASCII letter in it
    bool beyondAscii = false;
    bool lowerThenUpper = false;
    bool signInside = false;
    std::vector<QChar::Script> alphabets;

    void add(char32_t c, bool previousLower)
    {
        ++letters;
        ascii = ascii || c < 0x80;
        beyondAscii = beyondAscii || c >= 0x80;
        lowerThenUpper = lowerThenUpper || (previousLower && QChar::isUpper(c));
        const QChar::Script script = QChar::script(c);
        if (isAlphabet(script)
            && std::find(alphabets.begin(), alphabets.end(), script) == alphabets.end())
            alphabets.push_back(script);
    }

    // A word no language writes: letters of two alphabets, a capital after a
    // small letter, a sign between its letters, or a Latin word made only of
    // the letters beyond ASCII ("Íåò", "ÄășĂ"), which every Latin language
    // writes with plain ones.
    bool isOdd(Writing writing) const
    {
        return alphabets.size() > 1 || lowerThenUpper || signInside
            || (writing == Writing::Latin && letters > 1 && !ascii);
    }
};

std::vector<Word> wordsOf(const std::u32string& text)
{
    std::vector<Word> words(1);
    bool previousLower = false;
    // A sign beyond ASCII right after a letter of an alphabet, which keeps
    // the word open until the next character tells whether it stood inside.
    bool signAfterLetter = false;
    char32_t previous = 0;
    for (const char32_t c : text) {
        if (QChar::isMark(c) && words.back().letters > 0)
            continue; // an accent on the letter before
        if (QChar::isLetter(c)) {
            if (signAfterLetter && isAlphabetLetter(c)) {
                words.back().signInside = true;
                words.back().beyondAscii = true;
            } else if (signAfterLetter) {
                words.emplace_back();
                previousLower = false;
            }
            signAfterLetter = false;
            words.back().add(c, previousLower);
            previousLower = QChar::isLower(c);
        } else if (!signAfterLetter && c >= 0x80 && !joinsWords(c) && isAlphabetLetter(previous)) {
            signAfterLetter = true;
        } else if (words.back().letters > 0) {
            words.emplace_back();
            previousLower = false;
            signAfterLetter = false;
        }
        previous = c;
    }
    return words;
}

// The writing of the letters beyond ASCII, when they are of one.
std::optional<Writing> writingOfLetters(const std::u32string& text)
{
    std::vector<QChar::Script> scripts;
    for (const char32_t c : text) {
        const QChar::Script script = QChar::script(c);
        if (c >= 0x80 && QChar::isLetter(c)
            && std::find(scripts.begin(), scripts.end(), script) == scripts.end())
            scripts.push_back(script);
    }
    const auto only = [&scripts](std::initializer_list<QChar::Script> allowed) {
        return std::all_of(scripts.begin(), scripts.end(), [allowed](QChar::Script script) {
            return std::find(allowed.begin(), allowed.end(), script) != allowed.end();
        });
    };
    const auto has = [&scripts](QChar::Script script) {
        return std::find(scripts.begin(), scripts.end(), script) != scripts.end();
    };
    static const std::pair<QChar::Script, Writing> alphabets[] = {
        { QChar::Script_Latin, Writing::Latin },
        { QChar::Script_Cyrillic, Writing::Cyrillic },
        { QChar::Script_Greek, Writing::Greek },
        { QChar::Script_Hebrew, Writing::Hebrew },
        { QChar::Script_Arabic, Writing::Arabic },
        { QChar::Script_Thai, Writing::Thai },
    };
    if (scripts.empty())
        return Writing::Latin;
    for (const auto& [script, writing] : alphabets) {
        if (only({ script }))
            return writing;
    }
    if (only({ QChar::Script_Han }))
        return Writing::Chinese;
    if (only({ QChar::Script_Han, QChar::Script_Hiragana, QChar::Script_Katakana }))
        return Writing::Japanese;
    if (has(QChar::Script_Hangul) && only({ QChar::Script_Hangul, QChar::Script_Han }))
        return Writing::Korean;
    return std::nullopt;
}

// The writing of `text` when it reads as text: of one writing, without
// characters no text holds, and with few odd signs and odd words.
std::optional<Writing> writingOf(const QString& text)
{
    const std::u32string characters = text.toStdU32String();
    if (std::any_of(characters.begin(), characters.end(), isForeign))
        return std::nullopt;
    const auto beyondAscii
        = std::count_if(characters.begin(), characters.end(), [](char32_t c) { return c >= 0x80; });
    const auto oddSigns = std::count_if(characters.begin(), characters.end(), isOddSign);
    const std::optional<Writing> writing = writingOfLetters(characters);
    if (!writing || oddSigns * 10 > beyondAscii)
        return std::nullopt;
    int telling = 0, odd = 0;
    for (const Word& word : wordsOf(characters)) {
        telling += word.beyondAscii ? 1 : 0;
        odd += word.beyondAscii && word.isOdd(*writing) ? 1 : 0;
    }
    if (odd * 3 > telling)
        return std::nullopt;
    return writing;
}

// The bytes as one set reads them, and who named the set how surely.
struct Reading {
    QString set;
    QString text;
    Writing writing;
    int confidence = 0; // the second detector's, from 0 to 100; 0 for the first's
};

// The reading in the first set of `set`'s family that reads the bytes as
// text. (The narrower Big5 reads Hong Kong's letters as private places.)
std::optional<Reading> readingOfFamily(const QByteArray& bytes, const QString& set, int confidence)
{
    for (const QString& each : setsToReadIn(set)) {
        const std::optional<QString> text = decoded(bytes, each);
        const std::optional<Writing> writing = text ? writingOf(*text) : std::nullopt;
        if (writing)
            return Reading { nameTheEnginesKnow(each), *text, *writing, confidence };
    }
    return std::nullopt;
}

// How much of a reading is signs rather than letters: those text seldom
// holds count twice. Where a Windows set and its ISO set read different
// letters, the wrong one reads signs in their places ("’λφα" for "Άλφα",
// "©»astný" for "Šťastný", "¤" for "€").
qsizetype signWeight(const QString& text)
{
    qsizetype weight = 0;
    for (const char32_t c : text.toStdU32String()) {
        if (c >= 0x80 && !QChar::isLetterOrNumber(c) && !QChar::isMark(c) && !QChar::isSpace(c))
            weight += isOddSign(c) ? 2 : 1;
    }
    return weight;
}

std::optional<Reading> readingIn(const QByteArray& bytes, const QString& set, int confidence = 0)
{
    std::optional<Reading> reading = readingOfFamily(bytes, set, confidence);
    const QString windows = windowsSetOf(set);
    if (windows.isEmpty() || hasWindowsOnlyBytes(bytes))
        return reading;
    std::optional<Reading> inWindows = readingOfFamily(bytes, windows, confidence);
    if (inWindows && (!reading || signWeight(inWindows->text) <= signWeight(reading->text)))
        return inWindows;
    return reading;
}

struct DetectorDeleter {
    void operator()(uchardet* detector) const { uchardet_delete(detector); }
};

QString firstDetectorGuess(const QByteArray& bytes)
{
    const std::unique_ptr<uchardet, DetectorDeleter> detector(uchardet_new());
    if (!detector
        || uchardet_handle_data(
               detector.get(), bytes.constData(), static_cast<size_t>(bytes.size()))
            != 0)
        return {};
    uchardet_data_end(detector.get());
    const char* const name = uchardet_get_charset(detector.get());
    return name ? QString::fromLatin1(name) : QString();
}

struct IcuDetectorCloser {
    void operator()(UCharsetDetector* detector) const { ucsdet_close(detector); }
};

// The second detector's sets with its confidence, surest first. It gives
// 10 to every multi-byte set the bytes are merely valid in: that is no guess.
std::vector<std::pair<QString, int>> secondDetectorGuesses(const QByteArray& bytes)
{
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UCharsetDetector, IcuDetectorCloser> detector(ucsdet_open(&status));
    const auto size = static_cast<int32_t>(
        std::min<qsizetype>(bytes.size(), std::numeric_limits<int32_t>::max()));
    ucsdet_setText(detector.get(), bytes.constData(), size, &status);
    int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector.get(), &count, &status);
    std::vector<std::pair<QString, int>> guesses;
    for (int32_t i = 0; U_SUCCESS(status) && i < count; ++i) {
        const int confidence = ucsdet_getConfidence(matches[i], &status);
        const char* const name = ucsdet_getName(matches[i], &status);
        if (U_SUCCESS(status) && confidence > 10)
            guesses.emplace_back(QString::fromLatin1(name), confidence);
    }
    return guesses;
}

bool isBeyondAscii(const QByteArray& bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char byte) { return byte & 0x80; });
}

// Letters past ASCII that all decode as UTF-8 are UTF-8: in any 8-bit set
// they would have to come in the rare pairs and triples UTF-8 is made of.
// The detectors need many such letters to say so.
bool isUtf8BeyondAscii(const QByteArray& bytes)
{
    if (!isBeyondAscii(bytes))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// How sure the second detector is of the reading `text`.
int confidenceOf(const std::vector<Reading>& guesses, const QString& text)
{
    int most = 0;
    for (const Reading& guess : guesses)
        most = guess.text == text ? std::max(most, guess.confidence) : most;
    return most;
}

QString describe(const Reading& reading)
{
    return QStringLiteral("%1 in %2").arg(QLatin1String(writingName(reading.writing)), reading.set);
}

// No set, and why, with what the user can do about it: `examples` are file
// names whose tags name languages that tell it.
SubtitleCharsetChoice untold(
    const QString& why, const QStringList& examples = { QStringLiteral("film.ru.srt") })
{
    QStringList quoted;
    for (const QString& example : examples)
        quoted << QLatin1Char('"') + example + QLatin1Char('"');
    const QString last = quoted.takeLast();
    const QString named
        = quoted.isEmpty() ? last : quoted.join(", ") + QStringLiteral(" or ") + last;
    return { {},
        QStringLiteral("its character set cannot be told: %1. Name its language in the file's "
                       "name (as in %2) or, for a language it offers, in the editor")
            .arg(why, named) };
}

SubtitleCharsetChoice undecided(const Reading& one, const Reading& other)
{
    return untold(
        QStringLiteral("its letters read as %1 and as %2").arg(describe(one), describe(other)));
}

// Fewer bytes beyond ASCII than this are a line or two: too few for the
// detectors' statistics.
constexpr qsizetype kFewBytes = 48;

bool isFewLetters(const QByteArray& bytes)
{
    return std::count_if(bytes.begin(), bytes.end(), [](char byte) { return byte & 0x80; })
        < kFewBytes;
}

// Why no set is told where the detectors tell none: either no set a
// language is written in reads the letters as text, or a few letters, which
// several do, cannot choose between them. The user can then name the
// language, and the languages that read it are named.
SubtitleCharsetChoice untoldByTheLetters(const QByteArray& bytes)
{
    QStringList readings;
    QStringList examples;
    for (const LanguageSets& language : languageSets()) {
        for (const QString& set : language.sets) {
            const std::optional<Reading> reading = readingIn(bytes, set);
            if (!reading
                || !std::count(
                    language.writings.begin(), language.writings.end(), reading->writing))
                continue;
            // Two tags of one language (zh, zh-TW) may read it in one set.
            if (const QString read = describe(*reading); !readings.contains(read))
                readings << read;
            examples << QStringLiteral("film.%1.srt").arg(QLatin1String(language.tag));
            break;
        }
    }
    if (readings.isEmpty())
        return untold(
            QStringLiteral("no set it could be in reads its letters as text of one script"));
    const QString last = readings.takeLast();
    const QString reads = readings.isEmpty()
        ? last
        : readings.join(QStringLiteral(", as ")) + QStringLiteral(" and as ") + last;
    const QString why = isFewLetters(bytes) ? QStringLiteral("a line this short cannot tell its set")
                                            : QStringLiteral("no detector names its set");
    return untold(QStringLiteral("%1, and it reads as %2").arg(why, reads), examples);
}

// What the detectors tell: a reading, or why none.
struct Verdict {
    std::optional<Reading> reading;
    QString doubt;
};

Verdict doubtful(const QByteArray& bytes, const Reading& one, const Reading& other)
{
    return { {}, (isFewLetters(bytes) ? untoldByTheLetters(bytes) : undecided(one, other)).doubt };
}

// Where the detectors read the bytes differently, the second's surest
// reading wins when it is sure (50 of 100) and clearly leads the first's;
// otherwise the first's stands where the second lists it too, and nothing
// can be told where it does not. A winner of the second detector must also
// clearly lead its other readings.
Verdict verdictOfDetectors(const QByteArray& bytes, const std::optional<Reading>& first,
    const std::vector<Reading>& second)
{
    if (second.empty()) {
        if (first)
            return { first, {} };
        return { {}, untoldByTheLetters(bytes).doubt };
    }
    const Reading& best = second.front();
    const auto leads = [&best](int confidence) { return best.confidence * 2 >= confidence * 3; };
    if (first && first->text == best.text)
        return { first, {} };
    if (first) {
        const int firstConfidence = confidenceOf(second, first->text);
        if (best.confidence < 50 || !leads(firstConfidence))
            return firstConfidence > 0 ? Verdict { first, {} } : doubtful(bytes, *first, best);
    }
    const auto rival = std::find_if(second.begin(), second.end(),
        [&best](const Reading& guess) { return guess.text != best.text; });
    if (rival != second.end() && !leads(rival->confidence))
        return doubtful(bytes, best, *rival);
    return { best, {} };
}

bool isOfLanguage(const Reading& reading, const LanguageSets& language)
{
    return std::any_of(language.sets.begin(), language.sets.end(),
               [&reading](const QString& set) { return isSameSet(set, reading.set); })
        && std::find(language.writings.begin(), language.writings.end(), reading.writing)
        != language.writings.end();
}

// A reading is clean when every character beyond ASCII in it is a letter:
// no sign stands where a wrong set would put one.
bool isClean(const Reading& reading)
{
    return signWeight(reading.text) == 0;
}

// The reading the language the text is said to be in gives, where the
// detectors leave room for it. A detector's reading in the language's
// writing is taken first. Otherwise the language's own sets are tried; but
// the language is a hint, often a wrong one (a film's tag copied onto its
// subtitles), so a clean reading the detectors agree on in another writing
// stands over it. In the language's own writing the detectors cannot tell
// its sets apart on a few letters ("Où?" reads as Baltic "Oł?"): there the
// language tells the set.
std::optional<Reading> readingOfLanguage(const QByteArray& bytes, const LanguageSets& language,
    const std::optional<Reading>& first, const std::vector<Reading>& second,
    const Verdict& detectors)
{
    if (first && isOfLanguage(*first, language))
        return first;
    for (const Reading& guess : second) {
        if (isOfLanguage(guess, language))
            return guess;
    }
    if (detectors.reading && isClean(*detectors.reading)
        && !std::count(
            language.writings.begin(), language.writings.end(), detectors.reading->writing))
        return std::nullopt;
    for (const QString& set : language.sets) {
        const std::optional<Reading> reading = readingIn(bytes, set);
        if (reading && isOfLanguage(*reading, language))
            return reading;
    }
    return std::nullopt;
}

bool startsWithUtf16Mark(const QByteArray& bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

// UTF-16 `bytes` cut after their last whole character: a pair of units
// that holds one is not cut in two.
QByteArray withoutSplitPair(QByteArray bytes, bool littleEndian)
{
    bytes.truncate(bytes.size() & ~qsizetype(1));
    if (bytes.size() < 2)
        return bytes;
    const auto high = static_cast<unsigned char>(bytes[bytes.size() - (littleEndian ? 1 : 2)]);
    if (high >= 0xD8 && high <= 0xDB)
        bytes.chop(2);
    return bytes;
}

// Text in UTF-16 without a byte-order mark: ASCII, Latin, Greek and Cyrillic
// letters and the cue times leave a NUL in every other byte, on the side of
// the endianness, where 8-bit text holds none. A file with NUL bytes that
// does not read as UTF-16 text is no text at all.
SubtitleCharsetChoice choiceOfNulBytes(const QByteArray& bytes)
{
    std::array<qsizetype, 2> nuls {};
    for (qsizetype at = 0; at < bytes.size(); ++at)
        nuls[std::size_t(at % 2)] += bytes[at] == '\0' ? 1 : 0;
    // Little-endian text has its NUL bytes at odd places, and at least one
    // in eight of its characters is ASCII (a cue's times are).
    const bool little = nuls[1] > nuls[0];
    const qsizetype most = little ? nuls[1] : nuls[0], fewest = little ? nuls[0] : nuls[1];
    const bool utf16 = most > 4 * fewest && most * 16 >= bytes.size();
    const QLatin1String set(little ? "UTF-16LE" : "UTF-16BE");
    const std::optional<QString> text
        = utf16 ? decoded(withoutSplitPair(bytes, little), set) : std::nullopt;
    if (text) {
        const std::u32string characters = text->toStdU32String();
        if (std::none_of(characters.begin(), characters.end(), isForeign))
            return { set, {} };
    }
    return { {},
        QStringLiteral("it holds NUL bytes, which text holds only in UTF-16, and it does not read "
                       "as UTF-16 text: it is not a text file") };
}

// Detectors and readings take time in proportion to the bytes: over a
// 13 MB file they took five seconds, while the window waited. The lines
// holding bytes beyond ASCII tell the set, and this many bytes of them tell
// it as well as all of them; the engines' copy is read whole, and checked,
// where it is written (subtitleTextInSet).
constexpr qsizetype kGuessBytes = 64 * 1024;

QByteArray sampleToTell(const QByteArray& bytes)
{
    if (bytes.size() <= kGuessBytes)
        return bytes;
    // UTF-16 is told by its start, cut after a whole unit of it.
    if (startsWithUtf16Mark(bytes))
        return withoutSplitPair(bytes.left(kGuessBytes), bytes.startsWith("\xFF\xFE"));
    if (bytes.left(kGuessBytes).contains('\0'))
        return bytes.left(kGuessBytes);
    QByteArray sample;
    for (qsizetype at = 0; at < bytes.size() && sample.size() < kGuessBytes;) {
        const qsizetype newline = bytes.indexOf('\n', at);
        const qsizetype end = newline < 0 ? bytes.size() : newline + 1;
        const QByteArrayView line(bytes.constData() + at, end - at);
        if (std::any_of(
                line.begin(), line.end(), [](char byte) { return byte == '\0' || (byte & 0x80); }))
            sample += line;
        at = end;
    }
    return sample.isEmpty() ? bytes.left(kGuessBytes) : sample;
}

// The number of the first line of `bytes` that is not valid in `set`, from
// 1, for a set that keeps ASCII's line end as it is.
qsizetype firstLineNotIn(const QByteArray& bytes, const QString& set)
{
    const QList<QByteArray> lines = bytes.split('\n');
    const QStringList sets = setsToReadIn(set);
    for (qsizetype at = 0; at < lines.size(); ++at) {
        if (std::none_of(sets.begin(), sets.end(),
                [&](const QString& each) { return subtitleTextInUtf8(lines[at], each); }))
            return at + 1;
    }
    return lines.size();
}

} // namespace

SubtitleCharsetChoice chooseSubtitleCharset(const QByteArray& whole, const QString& language)
{
    const QByteArray bytes = sampleToTell(whole);
    if (bytes.contains('\0') && !startsWithUtf16Mark(bytes))
        return choiceOfNulBytes(bytes);
    if (isUtf8BeyondAscii(bytes))
        return { QStringLiteral("UTF-8"), {} };
    const QString firstGuess = firstDetectorGuess(bytes);
    // Text in ASCII reads the same in any set, and Unicode's forms are
    // told by their own marks.
    if (!isBeyondAscii(bytes)
        || (firstGuess.startsWith(QLatin1String("UTF-"), Qt::CaseInsensitive)
            && decoded(bytes, firstGuess)))
        return { firstGuess, {} };
    const std::optional<Reading> first = readingIn(bytes, firstGuess);
    std::vector<Reading> second;
    for (const auto& [set, confidence] : secondDetectorGuesses(bytes)) {
        if (std::optional<Reading> reading = readingIn(bytes, set, confidence))
            second.push_back(std::move(*reading));
    }
    const Verdict detectors = verdictOfDetectors(bytes, first, second);
    if (const LanguageSets* sets = setsOfLanguage(language)) {
        if (const std::optional<Reading> reading
            = readingOfLanguage(bytes, *sets, first, second, detectors))
            return { reading->set, {} };
    }
    if (detectors.reading)
        return { detectors.reading->set, {} };
    return { {}, detectors.doubt };
}

std::optional<QByteArray> subtitleTextInSet(
    const QByteArray& bytes, const QString& set, QString& failure)
{
    // Unicode's forms are read as they are: their text may hold any
    // character, and a wrong one is no sign of a wrong set.
    const bool unicode = set.startsWith(QLatin1String("UTF-"), Qt::CaseInsensitive);
    for (const QString& each : setsToReadIn(set)) {
        const std::optional<QByteArray> text = subtitleTextInUtf8(bytes, each);
        if (!text)
            continue;
        const std::u32string characters = QString::fromUtf8(*text).toStdU32String();
        const auto foreign = std::find_if(characters.begin(), characters.end(), isForeign);
        if (unicode || foreign == characters.end())
            return text;
        const auto line = 1 + std::count(characters.begin(), foreign, U'\n');
        failure = QStringLiteral("line %1 reads as characters no text holds").arg(line);
        return std::nullopt;
    }
    failure = unicode
        ? QStringLiteral("its bytes are not valid in it")
        : QStringLiteral("line %1 is not valid in it").arg(firstLineNotIn(bytes, set));
    return std::nullopt;
}

QString subtitleTextLanguage(const QString& path, const QString& chosen)
{
    return setsOfLanguage(chosen) ? chosen : subtitleFileLanguageTag(path);
}

QString subtitleFileLanguageTag(const QString& path)
{
    const QStringList parts = QFileInfo(path).fileName().split(QLatin1Char('.'));
    if (parts.size() < 3)
        return {};
    const QString tag = parts.at(parts.size() - 2);
    return setsOfLanguage(tag) ? tag : QString();
}
