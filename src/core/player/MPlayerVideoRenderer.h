#pragma once

#include "player/FrameLinkServer.h"

#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSize>

// The main preview's receiver of the frame link: it serves the link under its
// connection name, keeps the latest picture and where it is to be painted,
// and tells its owner when a stream starts, shows its first picture and ends.
// Lives on the main thread: the server's reports come to it queued, so its
// owner handles them on the main thread too.
class MPlayerVideoRenderer : public QObject {
    Q_OBJECT
public:
    explicit MPlayerVideoRenderer(const QString& connectionName, QObject* parent = nullptr);
    ~MPlayerVideoRenderer() override;

    // Serves the link; done once, true while it serves.
    bool listen();
    void setPixFormat(MPlayerOSXVOProto::PixelFormat format);
    QString connectionName() const;

    // Where the picture goes (textureFrame) within the painted area
    // (displayFrame); both in the picture view's coordinates, y downward.
    void boundsDidChangeTo(const QRectF& textureFrame, const QRectF& displayFrame);
    // The device pixels per unit of the screen the picture is painted on.
    // Once it is set, pictures are made at the texture frame's size in those
    // pixels when that is smaller than the stream's, so that they are painted
    // as they come; before, they keep the stream's size.
    void setPixelRatio(double ratio);
    // The size in device pixels of a picture that fills the texture frame;
    // empty while the ratio is unknown.
    QSize paintedPictureSize() const;
    QRectF curTextureFrame() const { return m_textureFrame; }
    QRectF curDisplayFrame() const { return m_displayFrame; }
    void redraw();

    // The stream's picture size and the aspect it was announced with.
    QSize imageSize() const { return m_imageSize; }
    double imageAspect() const { return m_imageAspect; }
    bool isRendering() const { return m_isRendering; }
    // The picture to paint: the latest of the running stream, at the stream's
    // size or at paintedPictureSize() (see setPixelRatio), else null.
    QImage picture() const { return m_picture; }

    void terminateConnection();

signals:
    void mplayerWillStart(MPlayerVideoRenderer* renderer);
    void mplayerDidStart(MPlayerVideoRenderer* renderer);
    void mplayerDidEnded(MPlayerVideoRenderer* renderer);
    // The picture or its place changed: paint again.
    void redrawRequested();

private:
    void streamWillStart(QSize size, int aspectTimes100);
    void pictureReady();
    void streamDidEnd();
    void askPictureSize();

    FrameLinkServer m_server;
    bool m_listening = false;
    bool m_isRendering = false;
    bool m_isStarting = false;
    QSize m_imageSize;
    double m_imageAspect = 0;
    QImage m_picture;
    QRectF m_textureFrame;
    QRectF m_displayFrame;
    double m_pixelRatio = 0;
};
