#pragma once

#include "player/FrameLinkServer.h"

#include <QImage>
#include <QObject>
#include <QString>

class NXViewMPlayerRender;

// What the editor preview's receiver tells its target, on the main thread.
class NXViewMPlayerRenderDelegate {
public:
    virtual ~NXViewMPlayerRenderDelegate() = default;

    // Pictures of the receiver's image size are coming.
    virtual void videoWillStart(NXViewMPlayerRender* render) = 0;
    virtual void videoWillStop(NXViewMPlayerRender* render) = 0;
    virtual void videoNeedDisplay(const QImage& image) = 0;
};

// The editor preview's receiver of the frame link: it serves the link under
// its connection name from the moment it is made and hands each picture on
// to its target instead of drawing it. The pictures come on the server's
// thread and are taken on the main thread, latest first: a busy interface
// skips pictures rather than queueing them.
class NXViewMPlayerRender : public QObject {
    Q_OBJECT
public:
    explicit NXViewMPlayerRender(const QString& connectionName, QObject* parent = nullptr);
    ~NXViewMPlayerRender() override;

    QString connectionName() const { return m_server.bufferName(); }
    void setPixFormat(MPlayerOSXVOProto::PixelFormat format);
    int imageWidth() const { return m_imageWidth; }
    int imageHeight() const { return m_imageHeight; }
    bool isRendering() const { return m_isRendering; }
    NXViewMPlayerRenderDelegate* target() const { return m_target; }
    void setTarget(NXViewMPlayerRenderDelegate* target) { m_target = target; }
    // Stops serving; a stream still running ends as if stopped.
    void terminateConnection();

private:
    void streamWillStart(QSize size);
    void pictureReady();
    void streamDidEnd();

    FrameLinkServer m_server;
    NXViewMPlayerRenderDelegate* m_target = nullptr;
    int m_imageWidth = 0;
    int m_imageHeight = 0;
    bool m_isRendering = false;
};
