#pragma once

#include "http/HttpError.h"
#include "http/NXDataDecompressor.h"
#include "http/PartialFileOrigin.h"
#include "platform/Fd.h"

#include <QFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The file a download is written to before it takes the destination's
// place, and what may replace it: the partial file, which a range continues;
// a body fetched afresh beside a partial with bytes (its replacement), which
// takes the partial's name once it holds more; and the inflated copy of a
// coded body, made once that is whole. A refused body leaves the partial as
// it was. No sockets: the request hands it bytes and decisions.
class PartialFile {
public:
    // Called just before a file of ours at `replacement` takes the partial's
    // name, or the destination's when it is the inflated copy of a coded body.
    using ReplaceHook = std::function<void(const QString& replacement)>;
    // Why a whole body in `file` may not take any place, or nothing.
    using Refusal = std::function<HttpError(const QString& file)>;

    PartialFile() = default;
    ~PartialFile() { unlock(); }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    void setReplaceHook(ReplaceHook hook) { m_replaceHook = std::move(hook); }
    // The finished file keeps the version its body began with, for an owner
    // that may make a partial file of it again.
    void setOriginStaysAtDestination(bool on) { m_originStaysAtDestination = on; }
    bool originStaysAtDestination() const { return m_originStaysAtDestination; }

    // The file written to: the replacement while there is one, else the
    // partial file; "" before one is named.
    QString path() const { return m_path; }
    // `chosen`: the hidden name we picked beside the destination, not the owner's.
    void setPath(const QString& path, bool chosen);
    void forgetPath();
    bool isChosen() const { return m_chosen; }
    bool wasWritten() const { return m_written; }
    bool isReplacing() const { return !m_replacedPath.isEmpty(); }

    // What the partial file began with: read from it, or, on a file system
    // that keeps no attributes, what this object wrote to it; and as last read.
    const std::optional<PartialFileOrigin>& readOrigin();
    const std::optional<PartialFileOrigin>& knownOrigin() const { return m_origin; }
    // Whether the bytes at the partial's name may be continued: this object
    // wrote them, or their file system keeps the version they began with.
    // Where it keeps none, a partial of an earlier run may be of any version.
    bool mayBeContinued() const;
    // The partial is shown not to be the start of the file (another version,
    // one of no known version, or longer than the file): a whole body takes
    // its place even when shorter, if it is the same kind of content. Until
    // a body takes its name.
    void markSuperseded() { m_superseded = true; }
    bool isSuperseded() const { return m_superseded; }

    // Takes an exclusive lock on the partial file, made empty when missing,
    // for as long as this object works on it, so that a second download into
    // it fails at once; the lock follows a body that takes the partial's
    // name. Without it, the owner holds such a lock.
    HttpError lock();
    // Gives the lock up; a partial made only to be locked, and still empty, goes.
    void unlock();

    // Opens for one answer's body: after the partial's bytes when
    // `appending`, else from the start, beside the partial when `beside` (it
    // holds bytes to keep); a body from the start carries `origin` when given.
    HttpError open(
        bool appending, bool beside, const std::optional<PartialFileOrigin>& origin = {});
    bool isOpen() const { return m_output.valid(); }
    // A replacement takes the partial's name once it holds more, when
    // `mayPromote` (its bytes are the file's, not coded ones).
    HttpError append(const char* data, qsizetype size, bool mayPromote);
    HttpError promote();
    // The replacement goes; the partial stays as it was.
    void abandon();
    void close();

    // Ends a whole body written from the start, or the partial a piece
    // completed: the file takes `destination`'s name unless it is shorter
    // than the partial it was fetched beside or `refusal` refuses it; then
    // the body goes (one that already took the partial's name held more, and
    // stays) and the partial is left as it was.
    HttpError finish(const QString& destination, bool freshBody, const Refusal& refusal);
    // The same for a coded body: its inflated copy takes `destination`'s
    // name; the coded bytes go, whatever happens: a range would carry them on.
    HttpError finishCoded(const QString& destination, NXDataDecompressor::Format format,
        quint64 outputLimit, const Refusal& refusal);

    // A new name in the folder of `path`, beside it. What is written there
    // carries the owner mark of the process that wrote it.
    static QString siblingPath(const QString& path);
    // The part of such a name that comes from the name of the file beside.
    static QString siblingStem(const QString& fileName);
    // Removes the files at such names in `folder` whose process has ended (a
    // download killed while it wrote them).
    static void removeAbandonedSiblings(const QString& folder);
    // The same for bodies written beside the partial file on a file system
    // that keeps no owner mark; only while the partial's lock is held (ours
    // or the owner's).
    void removeAbandonedReplacements() const;
    // A device, pipe or socket: written to, never replaced.
    static bool isSpecialFile(const QString& path);

private:
    HttpError shorterBodyRefusal(const QString& file) const;
    void dropRefused(bool freshBody);
    HttpError moveTo(const QString& from, const QString& destination);
    bool lockReplacement(const QString& replacement);

    QString m_path;
    bool m_chosen = false;
    // Only a partial file we wrote to is ever removed by us.
    bool m_written = false;
    // While a replacement is written beside it: the partial file, and its
    // size when the replacement began.
    QString m_replacedPath;
    quint64 m_replacedSize = 0;
    Fd m_output;
    // What the file written to holds.
    quint64 m_outputSize = 0;
    std::optional<PartialFileOrigin> m_origin;
    std::optional<PartialFileOrigin> m_bodyOrigin;
    bool m_originStaysAtDestination = false;
    bool m_superseded = false;
    // The body written beside the partial takes its place even when shorter.
    bool m_replacesShorter = false;
    ReplaceHook m_replaceHook;
    // Our lock on the partial, the name it was taken on, and whether we made
    // the file to take it.
    Fd m_lock;
    QString m_lockedPath;
    // Held on a body while it is written beside the partial.
    Fd m_besideLock;
    bool m_madeToLock = false;
};
