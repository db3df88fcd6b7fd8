#pragma once

#include "player/MPlayerOSXVOProto.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

// The program's end of the frame link: a server that one player tool at a
// time, started by us after listen(), connects to. It maps the tool's shared
// picture read-only, converts each picture to an image (scaled down on the
// way when a smaller size is asked) and keeps the latest one for
// takePicture(): pictures are never queued, and the server never waits for
// the thread that shows them, so a busy or blocked interface slows nothing
// down.
//
// The signals are emitted on the server's own thread; connect them queued
// (the default for a receiver on another thread) unless the receiver is
// thread-safe. The end of a connection counts as the end of its stream.
class FrameLinkServer : public QObject {
    Q_OBJECT

public:
    explicit FrameLinkServer(QString bufferName, QObject* parent = nullptr);
    ~FrameLinkServer() override;

    // Binds the socket and starts serving. False, with a log line, when the
    // socket cannot be made (its path too long, a folder that is not ours).
    bool listen();
    // Closes the socket and waits for the server's thread; a stream still
    // running ends as if stopped.
    void terminateConnection();

    QString bufferName() const;
    QString socketPath() const;
    // The byte order asked of the next tool that connects; "yuvs" at first.
    void setPixFormat(MPlayerOSXVOProto::PixelFormat format);
    // The size pictures are made at when it is smaller than the stream's on
    // both sides; otherwise, and while it is empty (at first), the stream's
    // own. A change is served at once: the latest picture is made again at
    // the new size, so that a paused stream shows it too.
    void setPictureSize(QSize size);
    // The latest picture not yet taken, else a null image.
    QImage takePicture();

signals:
    // A stream begins: its picture size and its aspect x 100 as the tool sent it.
    void mplayerWillStart(QSize size, int aspectTimes100);
    // The first picture of a stream is ready.
    void mplayerDidStart();
    void pictureReady();
    void mplayerDidEnded();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
