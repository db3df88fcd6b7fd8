#include "shell/NXProgressController.h"

#include "common/NXDialogs.h"
#include "controls/DNProgressIndicator.h"
#include "engine/DNVideoConverter.h"
#include "platform/NotificationCenter.h"
#include "services/DNHelpers.h"
#include "shell/ImgEncodeProgressView.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// A page of the sheet's activity place: the widget at its own size, where
// `alignment` puts it.
QWidget* pageHolding(QWidget* widget, Qt::Alignment alignment)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(widget, 0, alignment);
    return page;
}

} // namespace

NXProgressController::NXProgressController(
    NXConversionCalls calls, const NXSystemActions& system, QString outputFolder, QWidget* parent)
    : QDialog(parent)
    , m_calls(std::move(calls))
    , m_system(system)
    , m_outputFolder(std::move(outputFolder))
{
    setWindowTitle(QStringLiteral("Converting"));
    // Not modal: a modal sheet blocks its window's close button, and closing
    // the window must quit (stopping the run) even while one converts. The
    // window disables its own controls for the run instead.
    buildLayout();
    m_pollTimer.setInterval(kPollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &NXProgressController::poll);
}

NXProgressController::~NXProgressController()
{
    stopAndWait();
}

void NXProgressController::buildLayout()
{
    m_statusLabel = new QLabel(QStringLiteral("Preparing..."), this);
    m_detailLabel = new QLabel(this);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setRange(0, 100);
    m_busy = new DNProgressIndicator(this);
    m_busy->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_photoView = new ImgEncodeProgressView(this);
    m_photoView->hide();
    m_activity = new QStackedWidget(this);
    m_activity->addWidget(pageHolding(m_busy, Qt::AlignTop));
    m_openFolderBox = new QCheckBox(QStringLiteral("Open output folder when done"), this);
    m_shutDownBox = new QCheckBox(QStringLiteral("Shut down the computer when done"), this);
    m_stopButton = new QPushButton(QStringLiteral("Stop"), this);
    connect(m_stopButton, &QPushButton::clicked, this, &NXProgressController::stopRequested);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_stopButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_statusLabel);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_activity);
    layout->addWidget(m_detailLabel);
    layout->addWidget(m_openFolderBox);
    layout->addWidget(m_shutDownBox);
    layout->addLayout(buttons);
    setMinimumWidth(420);
}

void NXProgressController::reservePhotoView()
{
    if (m_activity->indexOf(m_photoView->parentWidget()) >= 0)
        return;
    m_activity->addWidget(pageHolding(m_photoView, Qt::AlignHCenter));
    m_photoView->show(); // seen when its page is
}

void NXProgressController::setOpenFolderWhenDone(bool on)
{
    m_openFolderBox->setChecked(on);
}

void NXProgressController::setShutDownWhenDone(bool on)
{
    m_shutDownBox->setChecked(on);
}

QString NXProgressController::statusText() const
{
    return m_statusLabel->text();
}

QString NXProgressController::detailText() const
{
    return m_detailLabel->text();
}

void NXProgressController::setStatus(const QString& text)
{
    m_statusLabel->setText(text);
}

void NXProgressController::begin()
{
    if (m_worker.joinable())
        return;
    m_busy->startAnimation();
    show(); // open() would make it window-modal
    m_pollTimer.start();
    QPointer<NXProgressController> self(this);
    auto converter = m_calls.converter;
    m_worker = std::thread([self, converter] {
        const bool failed = converter ? converter() : true;
        // The sheet may be gone by the time the queued call runs; QPointer
        // is checked on the main thread, where the sheet is destroyed.
        QMetaObject::invokeMethod(
            qApp,
            [self, failed] {
                if (self)
                    self->workerFinished(failed);
            },
            Qt::QueuedConnection);
    });
}

void NXProgressController::engineStateChanged(int state)
{
    if (state != kDNVideoConverterStatePassStarted)
        return;
    QPointer<NXProgressController> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (self && !self->m_stopped)
                self->setStatus(QStringLiteral("Converting..."));
        },
        Qt::QueuedConnection);
}

void NXProgressController::slideshowRenderStarted()
{
    QPointer<NXProgressController> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self || self->m_stopped)
                return;
            self->showPhotoView(true);
            self->m_detailLabel->clear(); // the encoder's figures are not the render's
            self->setStatus(QStringLiteral("Converting..."));
        },
        Qt::QueuedConnection);
}

void NXProgressController::showPhotoView(bool shown)
{
    if (shown)
        reservePhotoView();
    m_activity->setCurrentWidget(shown ? m_photoView->parentWidget() : m_busy->parentWidget());
}

// "EncodeCategory" 0 is the slideshow engine: frames and the photo it is on.
void NXProgressController::showRenderProgress(const QVariantMap& progress)
{
    showPhotoView(true);
    const qulonglong total = progress.value(QStringLiteral("totalFrames")).toULongLong();
    const qulonglong current = progress.value(QStringLiteral("currentFrame")).toULongLong();
    m_progressBar->setValue(total > 0 ? int(current * 100 / total) : 0);
    m_detailLabel->setText(QStringLiteral("frame %1 of %2").arg(current).arg(total));
    m_photoView->imageBeginEncoding(progress.value(QStringLiteral("currentImage")));
}

void NXProgressController::poll()
{
    if (!m_calls.progressGetter)
        return;
    const QVariantMap progress = m_calls.progressGetter();
    emit progressPolled(progress);
    if (progress.value(QStringLiteral("EncodeCategory"), 1).toInt() == 0) {
        showRenderProgress(progress);
        return;
    }
    showPhotoView(false);
    const double percent = progress.value(QStringLiteral("current_percent")).toDouble();
    m_progressBar->setValue(int(percent));
    const qlonglong frame = progress.value(QStringLiteral("frame_number")).toLongLong();
    const int converted = progress.value(QStringLiteral("convertedTime")).toInt();
    // Before the engine has done anything there are no figures to show.
    if (frame <= 0 && converted <= 0 && percent <= 0) {
        m_detailLabel->clear();
        return;
    }
    m_detailLabel->setText(
        QStringLiteral("%1 fps, frame %2, %3")
            .arg(progress.value(QStringLiteral("currentFPS")).toDouble(), 0, 'f', 1)
            .arg(frame)
            .arg(DNTimeStringFromSeconds(converted)));
}

void NXProgressController::stopRequested()
{
    if (m_stopped || !m_worker.joinable())
        return;
    m_stopped = true;
    m_stopButton->setEnabled(false);
    setStatus(QStringLiteral("Stopping..."));
    if (m_calls.interrupter)
        m_calls.interrupter();
}

void NXProgressController::reject()
{
    // Escape or the close box means stop; the sheet closes when the worker ends.
    stopRequested();
}

void NXProgressController::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void NXProgressController::stopAndWait()
{
    stopRequested();
    joinWorker();
    m_pollTimer.stop();
}

void NXProgressController::workerFinished(bool failed)
{
    joinWorker();
    m_pollTimer.stop();
    m_busy->stopAnimation();
    const bool stopped = m_stopped;
    // A person who pressed stop is at the machine: do not shut it down under them.
    if (!stopped) {
        if (m_shutDownBox->isChecked() && m_system.shutDown)
            m_system.shutDown();
        else if (m_openFolderBox->isChecked() && m_system.openFolder)
            m_system.openFolder(m_outputFolder);
    }
    done(failed ? QDialog::Rejected : QDialog::Accepted);
    emit conversionEnded(failed, stopped);
    NotificationCenter::defaultCenter().postWhenIdle(kDidEndNotification, nullptr,
        { { QStringLiteral("failed"), failed }, { QStringLiteral("stopped"), stopped } });
}
