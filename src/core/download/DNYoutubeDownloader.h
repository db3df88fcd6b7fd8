#pragma once

#include "download/DNYoutubeNode.h"
#include "http/NXHTTPRequest.h"

#include <QString>

#include <memory>
#include <mutex>

// An exclusive lock on a stream's file, held by an open descriptor: it
// follows the file through its renames (partial, stream file, partial back)
// and ends with the last holder.
class StreamFileLock {
public:
    explicit StreamFileLock(int fd)
        : m_fd(fd)
    { }
    ~StreamFileLock();
    // Whether the file at `path` (a link not followed) is the one locked.
    bool isOn(const QString& path) const;
    StreamFileLock(const StreamFileLock&) = delete;
    StreamFileLock& operator=(const StreamFileLock&) = delete;

private:
    const int m_fd;
};

// One stream of a download job as a request: the job it works for and its
// partial file in the Downloads folder. The partial's name carries a key of
// the stream (page, variant, part, size), so a later run of the same stream
// resumes it and no other stream ever writes into it; while the request
// runs, the file is locked, and a second job of the same stream is refused.
class DNYoutubeStreamRequest : public NXHTTPRequest {
public:
    ~DNYoutubeStreamRequest() override;

    std::shared_ptr<DNYoutubeNode> youtubeNode() const { return m_youtubeNode; }

    // Makes the partial file name of this stream in `folder` the request's partial file.
    void setTempFileDownloadDir(const QString& folder);
    // The key of the stream in the names of its files.
    QString streamKey() const;
    // Whether the record asks for a range of the stream; the request fails then.
    bool recordAsksForRange() const { return !m_recordRange.isEmpty(); }
    QString partialFilePath() const { return m_partialPath; }
    // Before the start, once the destination is set: takes the partial file
    // for this request (a stream file a stopped job left at the destination
    // becomes the partial when there is none, else goes) and bounds the body
    // by the stream's announced size. False with a reason when the file
    // cannot be made, is no regular file, or another job holds it or the
    // finished stream file.
    bool claimPartialFile(QString* reason);
    // The lock on the finished stream file, before the request ends;
    // whoever keeps it holds that file after the request has ended.
    std::shared_ptr<StreamFileLock> streamFileLock() const;
    // Once the request is over: a partial that holds bytes stays in the
    // Downloads folder, to be resumed; an empty one goes.
    void releasePartialFile();
    // Why the finished body in `file` is not the whole stream, or "" when it
    // is: a 2xx answer (or the client's finding that the partial already
    // held all of it) whose length the answer itself states (Content-Length,
    // a chunked body, a range's total) or the analysis knows exactly, that
    // is not empty, matches an exact announced size, and is no web page or
    // playlist.
    QString streamProblem(const QString& file) const;
    // Once this stream is whole: the partials another size of it left (an
    // earlier version, fetched under a key of its own) go, unless another
    // run is fetching them.
    void removeSupersededPartials() const;

protected:
    DNYoutubeStreamRequest(const QUrl& url, std::shared_ptr<DNYoutubeNode> node);
    // The record's headers for the stream, but for a range it asks for.
    void addStreamHeaders(const QMap<QString, QString>& headers);
    // The lock moves to a body written afresh before it takes the partial's
    // name, and the old one is held on till the request is over: the stream
    // is never without it.
    void willReplacePartialFile(const QString& replacement) override;
    // A body that is not the whole stream never takes the partial's place:
    // the request fails, and the partial stays to be resumed.
    HttpError finishedFileRefusal(const QString& file) const override;
    // A web page in place of the stream is refused by its head.
    HttpError answerHeadRefusal(const NXHeaderDictionary& headers) const override;
    // The partial file's name for `key`; what identifies the stream but for
    // its size ("" when nothing does), and what it carries ("video").
    virtual QString partialFileName(const QString& key) const = 0;
    virtual QString streamFamily() const = 0;
    virtual QString carriedMedia() const = 0;
    // The stream's size as the analysis gave it (0 when unknown), and whether
    // that is the file's exact size.
    virtual double announcedSize() const = 0;
    virtual bool isSizeExact() const = 0;

private:
    // The stream's family and size, the key's source.
    QString streamIdentity() const;
    // The key of the stream's family, kept on its partial file.
    QByteArray familyMark() const;
    bool lockPartialFile(QString* reason);
    void holdLock(std::shared_ptr<StreamFileLock> lock);
    std::shared_ptr<StreamFileLock> lockStreamFile(QString* reason) const;
    void reclaimStreamFile(std::shared_ptr<StreamFileLock> streamLock);
    QString answerProblem() const;
    // A partial of another size of this stream that `answer` contradicts, or "".
    QString contradictedPartial(const PartialFileOrigin& answer) const;
    QString bodyProblem(const QString& file, qint64 size) const;

    std::shared_ptr<DNYoutubeNode> m_youtubeNode;
    // Kept here: the client forgets its partial file once it has moved it.
    QString m_partialPath;
    QString m_recordRange;
    // The stream's size as the analysis gave it, when the request was claimed.
    double m_streamSize = 0;
    bool m_streamSizeExact = false;
    // The key of the stream's family, taken when the partial was claimed.
    QByteArray m_family;
    // Taken on the network thread when a body written afresh replaces the
    // partial, read on the job's.
    mutable std::mutex m_lockMutex;
    std::shared_ptr<StreamFileLock> m_lock;
    std::shared_ptr<StreamFileLock> m_replacedLock;
};

// The video stream of a job, one request per URL part of its selected variant.
class DNYoutubeDownloader : public DNYoutubeStreamRequest {
public:
    // Part 0 (initWithYoutubeNode:) or the part at `videoURLIndex`.
    static std::shared_ptr<DNYoutubeDownloader> initWithYoutubeNode(
        std::shared_ptr<DNYoutubeNode> node, int videoURLIndex = 0);
    DNYoutubeDownloader(std::shared_ptr<DNYoutubeNode> node, int videoURLIndex);

    int videoURLIndex() const { return m_videoURLIndex; }
    // Names the part's output file in `folder` and its stream file in the
    // Downloads folder on the node, and makes the stream file the download
    // destination: nothing lands in `folder` before the video is whole.
    void setOutPutDir(const QString& folder);

protected:
    QString partialFileName(const QString& key) const override;
    QString streamFamily() const override;
    QString carriedMedia() const override;
    double announcedSize() const override;
    bool isSizeExact() const override;

private:
    int m_videoURLIndex = 0;
};

// The page's separate audio stream of a job (the last of its URLs).
class NXYoutubeAudioDownloader : public DNYoutubeStreamRequest {
public:
    static std::shared_ptr<NXYoutubeAudioDownloader> downloaderWithNode(
        std::shared_ptr<DNYoutubeNode> node);
    explicit NXYoutubeAudioDownloader(std::shared_ptr<DNYoutubeNode> node);

    // Names the audio stream file in the Downloads folder on the node and
    // makes it the download destination.
    void setOutPutDir();

protected:
    QString partialFileName(const QString& key) const override;
    QString streamFamily() const override;
    QString carriedMedia() const override;
    double announcedSize() const override;
    bool isSizeExact() const override;
};
