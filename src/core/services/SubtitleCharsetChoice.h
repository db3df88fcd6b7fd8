#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Which character set a subtitle's bytes are read in. A detector's guess on
// the few bytes of a short subtitle is often another alphabet's letters, so
// a guess is taken only when its reading is text of one script and nothing
// known speaks against it: the language the text is said to be in, the other
// detector, or another reading as good as it.

struct SubtitleCharsetChoice {
    // The set's name; "" when none can be told (see `doubt`), or when the
    // bytes are empty.
    QString name;
    // Why no set can be told, in words for the user; "" when one was.
    QString doubt;
};

// The character set of `bytes`. `language` is the language the text is said
// to be in, as a code ("ru", "zh-Hans", "el"), or "": a set used for writing
// it whose reading gives that language's letters comes first.
SubtitleCharsetChoice chooseSubtitleCharset(const QByteArray& bytes, const QString& language);

// The whole of `bytes` in UTF-8 without a byte-order mark, read in `set` as
// chooseSubtitleCharset names it: in the set itself or, for a file holding a
// character only a wider set of its kind has (a Korean syllable beyond
// EUC-KR), in that one. chooseSubtitleCharset tells a large file's set by a
// part of it; nothing, with the line that does not fit in `failure`, when
// another part is not valid in the set or reads as characters no text holds.
std::optional<QByteArray> subtitleTextInSet(
    const QByteArray& bytes, const QString& set, QString& failure);

// The language a subtitle file's name tags it with: "ru" for "film.ru.srt",
// "chi" for "film.chi.srt"; "" without a tag of a language whose sets are
// known here.
QString subtitleFileLanguageTag(const QString& path);

// The language the text of the subtitle file at `path` is taken to be in:
// `chosen`, the user's choice, when sets are known for it ("en" has none),
// else the tag of the file's name.
QString subtitleTextLanguage(const QString& path, const QString& chosen);
