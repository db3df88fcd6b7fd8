#pragma once

#include "download/DNYoutubeNode.h"
#include "http/NXHTTPRequest.h"

#include <QString>

#include <memory>

// One stream of a download job as a request: the job it works for, its
// partial file in the Downloads folder, and the record beside that file that
// says which stream the bytes belong to. The partial keeps the plain name, so
// a later run resumes it; the record keeps another video of the same title
// from resuming a stranger's bytes.
class DNYoutubeStreamRequest : public NXHTTPRequest {
public:
    std::shared_ptr<DNYoutubeNode> youtubeNode() const { return m_youtubeNode; }

    // Makes the partial file name of this stream in `folder` the request's partial file.
    void setTempFileDownloadDir(const QString& folder);
    // Before the start: keeps the partial file when its record names this
    // stream, else removes it so that the transfer starts from byte 0; then
    // writes the record. False with a reason when the record cannot be written.
    bool preparePartialFile(QString* reason);
    // After the stream arrived: the record has nothing left to describe.
    void forgetPartialFile();
    // The body is complete on disk: a 2xx answer, or the client's finding that
    // the partial file already held the whole stream. A finished request
    // with any other answer (403, 404, ...) wrote nothing.
    bool receivedWholeBody() const;
    // Why a finished request did not give the stream.
    QString answerProblem() const;

protected:
    DNYoutubeStreamRequest(const QUrl& url, std::shared_ptr<DNYoutubeNode> node);
    // The partial file's name, and what identifies the stream in its record.
    virtual QString partialFileName() const = 0;
    virtual QString streamIdentity() const = 0;

private:
    QString recordPath() const;

    std::shared_ptr<DNYoutubeNode> m_youtubeNode;
    // Kept here: the client forgets its partial file once it has moved it.
    QString m_partialPath;
};

// The video stream of a job, one request per URL part of its selected variant.
class DNYoutubeDownloader : public DNYoutubeStreamRequest {
public:
    // Part 0 (initWithYoutubeNode:) or the part at `videoURLIndex`.
    static std::shared_ptr<DNYoutubeDownloader> initWithYoutubeNode(
        std::shared_ptr<DNYoutubeNode> node, int videoURLIndex = 0);
    DNYoutubeDownloader(std::shared_ptr<DNYoutubeNode> node, int videoURLIndex);

    int videoURLIndex() const { return m_videoURLIndex; }
    // Names the part's output and stream files in `folder` on the node and
    // makes the stream file the download destination.
    void setOutPutDir(const QString& folder);

protected:
    QString partialFileName() const override;
    QString streamIdentity() const override;

private:
    int m_videoURLIndex = 0;
};

// The page's separate audio stream of a job (the last of its URLs).
class NXYoutubeAudioDownloader : public DNYoutubeStreamRequest {
public:
    static std::shared_ptr<NXYoutubeAudioDownloader> downloaderWithNode(
        std::shared_ptr<DNYoutubeNode> node);
    explicit NXYoutubeAudioDownloader(std::shared_ptr<DNYoutubeNode> node);

    // Names the audio stream file in `folder` on the node and makes it the
    // download destination.
    void setOutPutDir(const QString& folder);

protected:
    QString partialFileName() const override;
    QString streamIdentity() const override;
};
