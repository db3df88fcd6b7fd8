#include "record/ClickRings.h"

#include <QCursor>
#include <QGuiApplication>
#include <QRegion>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <X11/extensions/XI2.h>

#include <dlfcn.h>
#include <sys/uio.h>

namespace {

constexpr int kRingSize = 44;
constexpr int kRingWidth = 5;
const QColor kRingColour(255, 200, 0);
constexpr quint8 kSelectEventsRequest = 46; // X_XISelectEvents

// XISelectEvents with one mask of one 4-byte unit, as the server reads it. The
// mask is for all master devices: a client's masks are kept per device, and
// Qt's own on the root window is for all devices, which this leaves alone.
struct SelectRawEvents {
    quint8 majorOpcode = 0; // both opcodes and the length are written by xcb
    quint8 minorOpcode = 0;
    quint16 length = 0;
    quint32 window = 0;
    quint16 maskCount = 1;
    quint16 pad = 0;
    quint16 device = XIAllMasterDevices;
    quint16 maskUnits = 1;
    quint32 mask = 0;
};
static_assert(sizeof(SelectRawEvents) == 20);

// The start of a raw event, as the server sends it.
struct RawEvent {
    quint8 responseType;
    quint8 extension;
    quint16 sequence;
    quint32 length;
    quint16 type;
    quint16 device;
    quint32 time;
    quint32 button;
};

xcb_extension_t inputExtension { "XInputExtension", 0 };

} // namespace

// libxcb's functions, taken from the copy Qt's X platform has loaded rather
// than linked: the application runs on other window systems without it.
struct ClickRings::Xcb {
    decltype(&xcb_get_extension_data) extensionData = nullptr;
    decltype(&xcb_send_request) sendRequest = nullptr;
    decltype(&xcb_flush) flush = nullptr;
    decltype(&xcb_get_setup) setup = nullptr;
    decltype(&xcb_setup_roots_iterator) roots = nullptr;

    bool resolve()
    {
        extensionData = reinterpret_cast<decltype(extensionData)>(
            ::dlsym(RTLD_DEFAULT, "xcb_get_extension_data"));
        sendRequest
            = reinterpret_cast<decltype(sendRequest)>(::dlsym(RTLD_DEFAULT, "xcb_send_request"));
        flush = reinterpret_cast<decltype(flush)>(::dlsym(RTLD_DEFAULT, "xcb_flush"));
        setup = reinterpret_cast<decltype(setup)>(::dlsym(RTLD_DEFAULT, "xcb_get_setup"));
        roots
            = reinterpret_cast<decltype(roots)>(::dlsym(RTLD_DEFAULT, "xcb_setup_roots_iterator"));
        return extensionData && sendRequest && flush && setup && roots;
    }
};

std::unique_ptr<ClickRings> ClickRings::start(QString* why)
{
    const auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    auto xcb = std::make_unique<Xcb>();
    if (!x11 || !x11->connection() || !xcb->resolve()) {
        *why = QStringLiteral("clicks are shown only on an X display");
        return nullptr;
    }
    xcb_connection_t* const connection = x11->connection();
    const xcb_query_extension_reply_t* const input
        = xcb->extensionData(connection, &inputExtension);
    if (!input || !input->present) {
        *why = QStringLiteral("the X server lacks the input extension");
        return nullptr;
    }
    const quint32 root = xcb->roots(xcb->setup(connection)).data->root;
    std::unique_ptr<ClickRings> rings(
        new ClickRings(std::move(xcb), connection, root, input->major_opcode));
    rings->selectRawButtonPresses(true);
    return rings;
}

ClickRings::ClickRings(
    std::unique_ptr<Xcb> xcb, xcb_connection_t* connection, quint32 root, quint8 opcode)
    : m_xcb(std::move(xcb))
    , m_connection(connection)
    , m_root(root)
    , m_opcode(opcode)
{
    m_hide.setSingleShot(true);
    m_hide.setInterval(kRingMs);
    connect(&m_hide, &QTimer::timeout, this, [this] { m_ring->hide(); });
    qApp->installNativeEventFilter(this);
}

ClickRings::~ClickRings()
{
    // The X connection goes with the application.
    if (!qApp)
        return;
    qApp->removeNativeEventFilter(this);
    selectRawButtonPresses(false);
}

void ClickRings::selectRawButtonPresses(bool on)
{
    SelectRawEvents request;
    request.window = m_root;
    request.mask = on ? XI_RawButtonPressMask : 0;
    iovec parts[3] {};
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    const xcb_protocol_request_t protocol { 1, &inputExtension, kSelectEventsRequest, 1 };
    m_xcb->sendRequest(m_connection, 0, parts + 2, &protocol);
    m_xcb->flush(m_connection);
}

bool ClickRings::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const RawEvent*>(message);
    if ((event->responseType & 0x7f) != XCB_GE_GENERIC || event->extension != m_opcode
        || event->type != XI_RawButtonPress)
        return false;
    // Left, middle and right; 4 to 7 are the wheel's steps.
    if (event->button >= 1 && event->button <= 3)
        showRing();
    // Ours alone: Qt asks for no raw events and would read it as another kind.
    return true;
}

void ClickRings::showRing()
{
    if (!m_ring) {
        m_ring = std::make_unique<QWidget>(nullptr,
            Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus
                | Qt::BypassWindowManagerHint);
        m_ring->setAttribute(Qt::WA_ShowWithoutActivating);
        m_ring->setAttribute(Qt::WA_QuitOnClose, false);
        m_ring->setPalette(QPalette(kRingColour));
        m_ring->setAutoFillBackground(true);
        m_ring->resize(kRingSize, kRingSize);
        const QRegion outer(0, 0, kRingSize, kRingSize, QRegion::Ellipse);
        const int inner = kRingSize - 2 * kRingWidth;
        m_ring->setMask(
            outer.subtracted(QRegion(kRingWidth, kRingWidth, inner, inner, QRegion::Ellipse)));
    }
    m_ring->move(QCursor::pos() - QPoint(kRingSize / 2, kRingSize / 2));
    m_ring->show();
    m_ring->raise();
    m_hide.start();
}
