#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <memory>

struct xcb_connection_t;

// While a recording runs with "Show mouse clicks" on: a short-lived ring
// around the pointer at every press of a mouse button, whatever program is
// clicked. The presses come from the X input extension's raw button events,
// which the X server sends to a client that asks for them on the root window.
// The ring is a shaped window that takes no input, as the recording frame
// is, so x11grab records it also without a compositor.
class ClickRings : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    static constexpr int kRingMs = 400;

    // Watching the clicks, or nothing with the reason in `why`: Qt runs
    // without X, or the X server lacks the input extension.
    static std::unique_ptr<ClickRings> start(QString* why);
    ~ClickRings() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    // The ring's window: null before the first click, hidden between clicks.
    QWidget* ring() const { return m_ring.get(); }

private:
    ClickRings(xcb_connection_t* connection, quint32 root, quint8 opcode);
    void selectRawButtonPresses(bool on);
    void showRing();

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    quint8 m_opcode = 0;
    std::unique_ptr<QWidget> m_ring;
    QTimer m_hide;
};
