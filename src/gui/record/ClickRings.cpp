#include "record/ClickRings.h"

#include <QCursor>
#include <QGuiApplication>
#include <QRegion>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace {

constexpr int kRingSize = 44;
constexpr int kRingWidth = 5;
const QColor kRingColour(255, 200, 0);

} // namespace

std::unique_ptr<ClickRings> ClickRings::start(QString* why)
{
    const auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) {
        *why = QStringLiteral("clicks are shown only on an X display");
        return nullptr;
    }
    xcb_connection_t* const connection = x11->connection();
    const xcb_query_extension_reply_t* const input
        = xcb_get_extension_data(connection, &xcb_input_id);
    if (!input || !input->present) {
        *why = QStringLiteral("the X server lacks the input extension");
        return nullptr;
    }
    const quint32 root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    std::unique_ptr<ClickRings> rings(new ClickRings(connection, root, input->major_opcode));
    rings->selectRawButtonPresses(true);
    return rings;
}

ClickRings::ClickRings(xcb_connection_t* connection, quint32 root, quint8 opcode)
    : m_connection(connection)
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

// The mask is for all master devices: a client's masks are kept per device,
// and Qt's own on the root window is for all devices, which this leaves alone.
void ClickRings::selectRawButtonPresses(bool on)
{
    struct {
        xcb_input_event_mask_t head;
        quint32 bits;
    } mask { { XCB_INPUT_DEVICE_ALL_MASTER, 1 },
        on ? quint32(XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS) : 0 };
    xcb_input_xi_select_events(m_connection, m_root, 1, &mask.head);
    xcb_flush(m_connection);
}

bool ClickRings::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_ge_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_GE_GENERIC || event->extension != m_opcode
        || event->event_type != XCB_INPUT_RAW_BUTTON_PRESS)
        return false;
    // Left, middle and right; 4 to 7 are the wheel's steps.
    const auto* press = static_cast<const xcb_input_raw_button_press_event_t*>(message);
    if (press->detail >= 1 && press->detail <= 3)
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
