#include "player/NXViewMPlayerRender.h"

NXViewMPlayerRender::NXViewMPlayerRender(const QString& connectionName, QObject* parent)
    : QObject(parent)
    , m_server(connectionName)
{
    // Queued: the server reports on its own thread; the target is the
    // interface's. The picture itself crosses under the server's lock.
    connect(&m_server, &FrameLinkServer::mplayerWillStart, this,
        &NXViewMPlayerRender::streamWillStart, Qt::QueuedConnection);
    connect(&m_server, &FrameLinkServer::pictureReady, this, &NXViewMPlayerRender::pictureReady,
        Qt::QueuedConnection);
    connect(&m_server, &FrameLinkServer::mplayerDidEnded, this, &NXViewMPlayerRender::streamDidEnd,
        Qt::QueuedConnection);
    m_server.listen();
}

NXViewMPlayerRender::~NXViewMPlayerRender()
{
    terminateConnection();
}

void NXViewMPlayerRender::setPixFormat(MPlayerOSXVOProto::PixelFormat format)
{
    m_server.setPixFormat(format);
}

void NXViewMPlayerRender::terminateConnection()
{
    m_server.terminateConnection();
}

void NXViewMPlayerRender::streamWillStart(QSize size)
{
    m_imageWidth = size.width();
    m_imageHeight = size.height();
    m_isRendering = true;
    if (m_target)
        m_target->videoWillStart(this);
}

void NXViewMPlayerRender::pictureReady()
{
    QImage latest = m_server.takePicture();
    // A report that arrives after its stream ended, or whose picture an
    // earlier report already took, has nothing to show.
    if (!m_isRendering || latest.isNull() || !m_target)
        return;
    m_target->videoNeedDisplay(latest);
}

void NXViewMPlayerRender::streamDidEnd()
{
    m_isRendering = false;
    if (m_target)
        m_target->videoWillStop(this);
}
