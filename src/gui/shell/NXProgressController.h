#pragma once

#include <QDialog>
#include <QTimer>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class DNProgressIndicator;
class ImgEncodeProgressView;
struct NXSystemActions;

// The three calls a conversion gives the progress sheet.
struct NXConversionCalls {
    // Runs the whole conversion on the worker thread; true when it failed.
    std::function<bool()> converter;
    // Where the conversion is; called on the main thread once a second.
    std::function<QVariantMap()> progressGetter;
    // Asks the conversion to stop; called on the main thread.
    std::function<void()> interrupter;
};

// The sheet shown while a conversion runs: the converter runs on a worker
// thread of its own, the sheet polls the progress once a second from a
// main-thread timer, and its stop button calls the interrupter. At the end it
// opens the output folder or shuts the machine down when asked, closes, and
// posts "NXProgressDidEndNotification 8_8" when the event loop is idle.
class NXProgressController : public QDialog {
    Q_OBJECT
public:
    static inline const QString kDidEndNotification
        = QStringLiteral("NXProgressDidEndNotification 8_8");
    static constexpr int kPollIntervalMs = 1000;

    NXProgressController(NXConversionCalls calls, const NXSystemActions& system,
        QString outputFolder, QWidget* parent = nullptr);
    ~NXProgressController() override;

    // Opens the sheet and starts the worker.
    void begin();
    // Stops the run and waits for the worker; for quitting while it runs.
    void stopAndWait();
    bool isRunning() const { return m_worker.joinable(); }

    // Called from any thread with an engine's state code.
    void engineStateChanged(int state);
    // Called from any thread: a photo album is about to be rendered, which
    // the sheet follows in its photo view.
    void slideshowRenderStarted();

    // Keeps room for the photo view from the start, so that the sheet of a
    // run with an album keeps its size when the render starts and ends.
    void reservePhotoView();

    // Once a second unless set otherwise (a test that must see every photo).
    void setPollInterval(std::chrono::milliseconds interval) { m_pollTimer.setInterval(interval); }

    void setOpenFolderWhenDone(bool on);
    void setShutDownWhenDone(bool on);
    QString statusText() const;
    // The figures under the bar: the engine's, or the render's frames.
    QString detailText() const;
    QPushButton* stopButton() const { return m_stopButton; }
    ImgEncodeProgressView* photoView() const { return m_photoView; }

signals:
    void conversionEnded(bool failed, bool stopped);
    // Each poll's progress, as the sheet shows it.
    void progressPolled(const QVariantMap& progress);

protected:
    void reject() override;

private:
    void buildLayout();
    void poll();
    void showRenderProgress(const QVariantMap& progress);
    void showPhotoView(bool shown);
    void stopRequested();
    void workerFinished(bool failed);
    void joinWorker();
    void setStatus(const QString& text);

    NXConversionCalls m_calls;
    const NXSystemActions& m_system;
    const QString m_outputFolder;
    std::thread m_worker;
    std::atomic_bool m_stopped { false };
    QTimer m_pollTimer;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_detailLabel = nullptr;
    QProgressBar* m_progressBar = nullptr;
    DNProgressIndicator* m_busy = nullptr;
    ImgEncodeProgressView* m_photoView = nullptr;
    // The busy bar or, while an album renders, the photo view.
    QStackedWidget* m_activity = nullptr;
    QCheckBox* m_openFolderBox = nullptr;
    QCheckBox* m_shutDownBox = nullptr;
    QPushButton* m_stopButton = nullptr;
};
