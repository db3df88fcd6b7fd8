#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

#include <memory>

class QAction;
class QLabel;
class QSystemTrayIcon;
class QWidget;

// What stays on screen while a recording runs: the elapsed time and Stop.
// A tray icon where the desktop has a tray; otherwise (a bare X server) a
// small frameless window at the recorded screen's top-right corner, wholly on
// the screen and above every other window, the recording frame's dimming
// included (make it after the frame).
class DNRecordStatusItem : public QObject {
    Q_OBJECT
public:
    // `screen`: the recorded screen's geometry.
    explicit DNRecordStatusItem(const QRect& screen, QObject* parent = nullptr);
    ~DNRecordStatusItem() override;

    void setElapsedText(const QString& text);
    QString elapsedText() const { return m_elapsed; }
    // The window used when there is no tray; null with a tray.
    QWidget* statusItemView() const { return m_window.get(); }

signals:
    void stopClicked();

private:
    void buildTrayIcon();
    void buildWindow();
    void placeWindow();

    QRect m_screen;
    QString m_elapsed;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QAction* m_elapsedAction = nullptr;
    std::unique_ptr<QWidget> m_window;
    QLabel* m_elapsedLabel = nullptr;
};
