#pragma once

#include <QString>

#include <optional>

class HttpHeaders;

// What a partial file was started from: the validators and the length of the
// answer whose body it begins. A later piece continues the file only when it
// agrees; anything else is a changed file. It is kept on the partial file
// itself, as an extended attribute: it then follows the file through every
// rename (a body written beside it taking its place, a stream put back to be
// resumed) and goes with it, with no second file to keep in step.
struct PartialFileOrigin {
    QString entityTag; // strong tags only: a weak one never answers If-Range
    QString lastModified;
    std::optional<quint64> total;

    // From an answer's head; `total` is the body's length when it is stated.
    static PartialFileOrigin fromAnswer(const HttpHeaders& headers, std::optional<quint64> total);
    // Nothing when the file has none, or its file system keeps no attributes.
    static std::optional<PartialFileOrigin> readFrom(const QString& path);
    bool writeTo(const QString& path) const;
    static void removeFrom(const QString& path);

    // The value of If-Range for a range of this file, or "" when there is
    // nothing a server can compare.
    QString ifRangeValue() const;
    // False when `piece` names another version or another length of the file.
    bool continuedBy(const PartialFileOrigin& piece) const;

    bool operator==(const PartialFileOrigin&) const = default;
};
