#include "player/MPlayerVideoRenderer.h"

MPlayerVideoRenderer::MPlayerVideoRenderer(const QString& connectionName, QObject* parent)
    : QObject(parent)
    , m_server(connectionName)
{
    // Queued: the server reports on its own thread, and everything here
    // belongs to the main thread. The picture itself is handed over by the
    // server under its own lock (takePicture), so nothing here needs one.
    connect(&m_server, &FrameLinkServer::mplayerWillStart, this,
        &MPlayerVideoRenderer::streamWillStart, Qt::QueuedConnection);
    connect(&m_server, &FrameLinkServer::pictureReady, this, &MPlayerVideoRenderer::pictureReady,
        Qt::QueuedConnection);
    connect(&m_server, &FrameLinkServer::mplayerDidEnded, this, &MPlayerVideoRenderer::streamDidEnd,
        Qt::QueuedConnection);
}

MPlayerVideoRenderer::~MPlayerVideoRenderer()
{
    terminateConnection();
}

bool MPlayerVideoRenderer::listen()
{
    if (!m_listening)
        m_listening = m_server.listen();
    return m_listening;
}

void MPlayerVideoRenderer::setPixFormat(MPlayerOSXVOProto::PixelFormat format)
{
    m_server.setPixFormat(format);
}

QString MPlayerVideoRenderer::connectionName() const
{
    return m_server.bufferName();
}

void MPlayerVideoRenderer::boundsDidChangeTo(const QRectF& textureFrame, const QRectF& displayFrame)
{
    m_textureFrame = textureFrame;
    m_displayFrame = displayFrame;
    askPictureSize();
    emit redrawRequested();
}

void MPlayerVideoRenderer::setPixelRatio(double ratio)
{
    if (ratio == m_pixelRatio)
        return;
    m_pixelRatio = ratio;
    askPictureSize();
}

QSize MPlayerVideoRenderer::paintedPictureSize() const
{
    return m_pixelRatio > 0 ? (m_textureFrame.size() * m_pixelRatio).toSize() : QSize();
}

void MPlayerVideoRenderer::askPictureSize()
{
    m_server.setPictureSize(paintedPictureSize());
}

void MPlayerVideoRenderer::redraw()
{
    emit redrawRequested();
}

void MPlayerVideoRenderer::terminateConnection()
{
    m_server.terminateConnection();
    m_listening = false;
}

void MPlayerVideoRenderer::streamWillStart(QSize size, int aspectTimes100)
{
    m_imageSize = size;
    m_imageAspect = aspectTimes100 / 100.0;
    m_textureFrame = QRectF(QPointF(), QSizeF(size));
    m_isStarting = false;
    m_isRendering = true;
    emit mplayerWillStart(this);
}

void MPlayerVideoRenderer::pictureReady()
{
    QImage latest = m_server.takePicture();
    // A report that arrives after its stream ended, or one whose picture was
    // already taken with an earlier report, has nothing new to show.
    if (!m_isRendering || latest.isNull())
        return;
    m_picture = std::move(latest);
    emit redrawRequested();
    if (!m_isStarting) {
        m_isStarting = true;
        emit mplayerDidStart(this);
    }
}

void MPlayerVideoRenderer::streamDidEnd()
{
    m_isRendering = false;
    m_picture = QImage();
    emit redrawRequested();
    emit mplayerDidEnded(this);
}
