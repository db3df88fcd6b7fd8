#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QLabel;
class QSystemTrayIcon;
class QWidget;

// What stays on screen while a recording runs: the elapsed time and Stop.
// A tray icon where the desktop has a tray; otherwise (a bare X server) a
// small frameless window on top, out of the recorded region's way at the
// screen's top-right corner.
class DNRecordStatusItem : public QObject {
    Q_OBJECT
public:
    explicit DNRecordStatusItem(QObject* parent = nullptr);
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

    QString m_elapsed;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QAction* m_elapsedAction = nullptr;
    std::unique_ptr<QWidget> m_window;
    QLabel* m_elapsedLabel = nullptr;
};
