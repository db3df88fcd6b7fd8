#pragma once

#include <QString>

#include <optional>

class HttpHeaders;

// What a partial file was started from: the validators, the length and the
// type of the answer whose body it begins. A later piece continues the file
// only when it agrees; anything else is a changed file. It is kept on the
// partial file itself, as an extended attribute: it then follows the file
// through every rename (a body written beside it taking its place, a stream
// put back to be resumed) and goes with it, with no second file to keep in
// step.
struct PartialFileOrigin {
    // Weak or strong: either tells a changed file, only a strong one may
    // answer If-Range.
    QString entityTag;
    QString lastModified;
    std::optional<quint64> total;
    // The media type, in lower case, without its parameters.
    QString contentType = {};
    // The answer's Date: a Last-Modified at least a second before it names
    // one version of the bytes; one within that second may name several.
    QString date = {};

    // From an answer's head; `total` is the body's length when it is stated.
    static PartialFileOrigin fromAnswer(const HttpHeaders& headers, std::optional<quint64> total);
    // Nothing when the file has none, when what it holds cannot be a server's
    // header (logged), or when its file system keeps no attributes.
    static std::optional<PartialFileOrigin> readFrom(const QString& path);
    // False only where the file system of `path` keeps no extended attributes.
    static bool isKeptOn(const QString& path);
    bool writeTo(const QString& path) const;
    static void removeFrom(const QString& path);

    bool hasStrongTag() const;
    // No tag at all, and a Last-Modified that names one version of the bytes.
    bool hasStrongDate() const;
    // The value of If-Range for a range of this file: its strong tag, or
    // where it has no tag its strong date; "" when nothing names these very
    // bytes (a weak tag says only that two answers mean the same), and then
    // no range of it may be asked for.
    QString ifRangeValue() const;
    // Whether the piece `piece` is surely of the bytes this file began with:
    // the same strong tag, or, where neither has a tag, the same strong
    // date; and no other length.
    bool tiedTo(const PartialFileOrigin& piece) const;
    // False when `answer` names another version or another length of the
    // file; an answer that names none agrees.
    bool continuedBy(const PartialFileOrigin& answer) const;
    // The server names the same version by our strong tag and gives it
    // another length: one of the two answers is wrong, and which is unknown.
    bool contradictedBy(const PartialFileOrigin& answer) const;
    // True when the whole body `answer` began is surely another version of
    // this file: its tag, weak or strong, is not ours (or, where either has
    // none, its date), and it is the same kind of content when both types
    // are known.
    bool supersededBy(const PartialFileOrigin& answer) const;
    // False when both types are known and differ.
    bool sameTypeAs(const PartialFileOrigin& other) const;

    bool operator==(const PartialFileOrigin&) const = default;
};
