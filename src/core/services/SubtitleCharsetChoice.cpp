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

// The older sets a language is written in, most used first, and the
// writing their reading must give.
struct LanguageSets {
    std::vector<QLocale::Language> languages;
    bool traditionalChinese = false;
    QStringList sets;
    std::vector<Writing> writings;
};

const std::vector<LanguageSets>& languageSets()
{
    using L = QLocale;
    static const std::vector<LanguageSets> table = {
        { { L::Russian, L::Ukrainian, L::Belarusian, L::Bulgarian, L::Serbian, L::Macedonian },
            false, { "windows-1251", "KOI8-R", "ISO-8859-5", "IBM866" }, { Writing::Cyrillic } },
        { { L::Greek }, false, { "windows-1253", "ISO-8859-7" }, { Writing::Greek } },
        { { L::Chinese }, false, { "GB18030", "Big5" }, { Writing::Chinese } },
        { { L::Chinese }, true, { "Big5", "GB18030" }, { Writing::Chinese } },
        { { L::Japanese }, false, { "Shift_JIS", "EUC-JP" },
            { Writing::Japanese, Writing::Chinese } },
        { { L::Korean }, false, { "EUC-KR", "CP949" }, { Writing::Korean } },
        { { L::Hebrew }, false, { "windows-1255", "ISO-8859-8" }, { Writing::Hebrew } },
        { { L::Arabic, L::Persian }, false, { "windows-1256", "ISO-8859-6" }, { Writing::Arabic } },
        { { L::Thai }, false, { "TIS-620" }, { Writing::Thai } },
        { { L::Turkish }, false, { "windows-1254", "ISO-8859-9" }, { Writing::Latin } },
        { { L::Polish, L::Czech, L::Slovak, L::Hungarian, L::Slovenian, L::Croatian, L::Romanian,
              L::Bosnian },
            false, { "windows-1250", "ISO-8859-2" }, { Writing::Latin } },
        { { L::Lithuanian, L::Latvian, L::Estonian }, false, { "windows-1257", "ISO-8859-13" },
            { Writing::Latin } },
        { { L::Vietnamese }, false, { "windows-1258" }, { Writing::Latin } },
        // English needs no letter beyond ASCII, and is where every subtitle's
        // language starts: it says nothing of a set.
        { { L::French, L::German, L::Italian, L::Portuguese, L::Spanish, L::Dutch, L::Danish,
              L::Swedish, L::NorwegianBokmal, L::NorwegianNynorsk, L::Finnish, L::Icelandic,
              L::Catalan, L::Galician, L::Basque, L::Irish },
            false, { "windows-1252", "ISO-8859-15" }, { Writing::Latin } },
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

// One run of letters.
struct Word {
    int letters = 0;
    bool ascii = false; // an ASCII letter in it
    bool beyondAscii = false;
    bool lowerThenUpper = false;
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
    // small letter, or a Latin word made only of the letters beyond ASCII
    // ("Íåò", "ÄășĂ"), which every Latin language writes with plain ones.
    bool isOdd(Writing writing) const
    {
        return alphabets.size() > 1 || lowerThenUpper
            || (writing == Writing::Latin && letters > 1 && !ascii);
    }
};

std::vector<Word> wordsOf(const std::u32string& text)
{
    std::vector<Word> words(1);
    bool previousLower = false;
    for (const char32_t c : text) {
        if (QChar::isMark(c) && words.back().letters > 0)
            continue; // an accent on the letter before
        if (QChar::isLetter(c)) {
            words.back().add(c, previousLower);
            previousLower = QChar::isLower(c);
        } else if (words.back().letters > 0) {
            words.emplace_back();
            previousLower = false;
        }
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

std::optional<Reading> readingIn(const QByteArray& bytes, const QString& set, int confidence = 0)
{
    const std::optional<QString> text = decoded(bytes, set);
    const std::optional<Writing> writing = text ? writingOf(*text) : std::nullopt;
    if (!writing)
        return std::nullopt;
    return Reading { nameTheEnginesKnow(set), *text, *writing, confidence };
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

// No set, and why, with what the user can do about it.
SubtitleCharsetChoice untold(const QString& why)
{
    return { {},
        QStringLiteral("its character set cannot be told: %1. Name its language in the file's "
                       "name (as in \"film.ru.srt\") or, for a language it offers, in the "
                       "editor")
            .arg(why) };
}

SubtitleCharsetChoice undecided(const Reading& one, const Reading& other)
{
    return untold(
        QStringLiteral("its letters read as %1 and as %2").arg(describe(one), describe(other)));
}

// Where the detectors read the bytes differently, the second's surest
// reading wins when it is sure (50 of 100) and clearly leads the first's;
// otherwise the first's stands where the second lists it too, and nothing
// can be told where it does not. A winner of the second detector must also
// clearly lead its other readings.
SubtitleCharsetChoice choiceOfDetectors(
    const std::optional<Reading>& first, const std::vector<Reading>& second)
{
    if (second.empty()) {
        if (first)
            return { first->set, {} };
        return untold(
            QStringLiteral("no set it could be in reads its letters as text of one script"));
    }
    const Reading& best = second.front();
    const auto leads = [&best](int confidence) { return best.confidence * 2 >= confidence * 3; };
    if (first && first->text == best.text)
        return { first->set, {} };
    if (first) {
        const int firstConfidence = confidenceOf(second, first->text);
        if (best.confidence < 50 || !leads(firstConfidence))
            return firstConfidence > 0 ? SubtitleCharsetChoice { first->set, {} }
                                       : undecided(*first, best);
    }
    const auto rival = std::find_if(second.begin(), second.end(),
        [&best](const Reading& guess) { return guess.text != best.text; });
    if (rival != second.end() && !leads(rival->confidence))
        return undecided(best, *rival);
    return { best.set, {} };
}

// The first reading in the language's writing among the language's sets: a
// set a detector named first, surest first, then the others in their order.
std::optional<Reading> readingOfLanguage(const QByteArray& bytes, const LanguageSets& language,
    const std::optional<Reading>& first, const std::vector<Reading>& second)
{
    const auto ofLanguage = [&language](const Reading& reading) {
        return language.sets.contains(reading.set, Qt::CaseInsensitive)
            && std::find(language.writings.begin(), language.writings.end(), reading.writing)
            != language.writings.end();
    };
    if (first && ofLanguage(*first))
        return first;
    for (const Reading& guess : second) {
        if (ofLanguage(guess))
            return guess;
    }
    for (const QString& set : language.sets) {
        const std::optional<Reading> reading = readingIn(bytes, set);
        if (reading && ofLanguage(*reading))
            return reading;
    }
    return std::nullopt;
}

} // namespace

SubtitleCharsetChoice chooseSubtitleCharset(const QByteArray& bytes, const QString& language)
{
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
    if (const LanguageSets* sets = setsOfLanguage(language)) {
        if (const std::optional<Reading> reading = readingOfLanguage(bytes, *sets, first, second))
            return { reading->set, {} };
    }
    return choiceOfDetectors(first, second);
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
