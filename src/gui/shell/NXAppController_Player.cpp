// The main window's preview: the player's views beside the list, the Play
// and Full Screen actions, the time under the picture and the list's mark
// of the entry playing.
#include "shell/NXAppController.h"

#include "list/NXMediaListModel.h"
#include "list/NXMediaTableView.h"
#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "platform/NotificationCenter.h"
#include "player/MPlayerVideoRenderer.h"
#include "player/NXMPlayerControl.h"
#include "player/NXMPlayerView.h"
#include "player/PlayerProcesses.h"
#include "services/DNHelpers.h"

#include <QLabel>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>
#include <functional>

namespace {

using namespace std::chrono_literals;

// How long the tools get to go after being killed; they go at once unless
// the system is stuck.
constexpr auto kPlayerKillBound = 2s;
constexpr auto kPlaybackTimerStep = 250ms;
constexpr int kPreviewWidth = 320;

// The preview's place: the player is told whenever it changes size.
class PreviewArea : public QWidget {
public:
    std::function<void(const QRect&)> resized;

protected:
    void resizeEvent(QResizeEvent*) override
    {
        if (resized)
            resized(rect());
    }
};

QString timeText(double seconds)
{
    return DNTimeStringFromSeconds(static_cast<int>(std::floor(std::max(seconds, 0.0))));
}

} // namespace

QWidget* NXAppController::buildPreview()
{
    m_player = new NXMPlayerControl(m_defaults, this);
    auto* area = new PreviewArea;
    area->setMinimumSize(kPreviewWidth, kPreviewWidth * 3 / 4);
    m_playerView = new NXMPlayerView(*m_player->render(), area);
    m_playerView->setDelegate(m_player);
    m_player->setSurface(m_playerView);
    area->resized = [this](const QRect& bounds) { m_player->adjust(bounds); };
    m_previewMessage = new QLabel(area);
    m_previewMessage->setAlignment(Qt::AlignCenter);
    m_previewMessage->setWordWrap(true);
    m_previewMessage->setStyleSheet(QStringLiteral("color: white;"));
    m_previewMessage->hide();
    m_timeLabel = new QLabel(timeText(0) + " / " + timeText(0));
    m_timeLabel->setAlignment(Qt::AlignCenter);

    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area, 1);
    layout->addWidget(m_timeLabel);
    auto* splitter = new QSplitter;
    splitter->addWidget(m_tableView);
    splitter->addWidget(column);
    splitter->setStretchFactor(0, 1);

    m_playbackTimer = new QTimer(this);
    m_playbackTimer->setInterval(kPlaybackTimerStep);
    connect(m_playbackTimer, &QTimer::timeout, this, &NXAppController::showPlaybackTime);
    connect(m_tableView, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) {
        const auto nodes = m_tableView->selectedNodes();
        if (!nodes.empty())
            playNode(nodes.front());
    });
    connect(
        m_player, &NXMPlayerControl::playbackFailed, this, &NXAppController::showPreviewMessage);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this,
        &NXAppController::hidePreviewMessageOfRemovedEntry);
    connect(m_model, &QAbstractItemModel::modelReset, this,
        &NXAppController::hidePreviewMessageOfRemovedEntry);
    observePlayer();
    return splitter;
}

void NXAppController::observePlayer()
{
    auto& center = NotificationCenter::defaultCenter();
    const auto refreshList = [](const Notification&) {
        NotificationCenter::defaultCenter().post(NXMediaTableView::kRefreshAllCells);
    };
    center.addObserver(NXMPlayerControl::kPlaybackWillStart, m_player, this, refreshList);
    center.addObserver(
        NXMPlayerControl::kPlaybackDidStart, m_player, this, [this](const Notification&) {
            m_previewMessage->hide();
            m_playbackTimer->start();
        });
    for (const QString& name :
        { NXMPlayerControl::kPlaybackDurationAvailable, NXMPlayerControl::kPlaybackStatusChanged })
        center.addObserver(
            name, m_player, this, [this](const Notification&) { showPlaybackTime(); });
    center.addObserver(NXMPlayerControl::kPlaybackDidEnd, m_player, this,
        [this](const Notification&) { playbackDidEnd(); });
}

void NXAppController::playNode(const NXBasicMediaNode::Ptr& node)
{
    if (!node)
        return;
    m_previewMessage->hide();
    if (!m_player->isPlayerBegin()) {
        if (const auto* file = dynamic_cast<const DNFileNode*>(node.get()))
            m_player->setVideoDuration(file->duration());
        m_player->startPlaybackWithNode(node);
        return;
    }
    if (node != m_player->currentNode())
        m_player->appendPlaybackItem(node);
    m_player->stopPlay();
}

void NXAppController::playOrStop()
{
    if (m_player->isPlayerBegin()) {
        m_player->stopPlay();
        stopPlayers();
        return;
    }
    const auto selected = m_tableView->selectedNodes();
    if (!selected.empty())
        playNode(selected.front());
    else if (!m_mediaNodes.empty())
        playNode(m_mediaNodes.front());
}

void NXAppController::toggleFullScreen()
{
    if (!m_player->isPlayerStartedPlaying())
        return;
    if (m_player->playbackMode() == 0)
        m_player->playbackVideoInFullScreenMode();
    else
        m_player->exitFullScreenMode();
}

void NXAppController::stopPlayers()
{
    if (!PlayerProcesses::shared().killAll(kPlayerKillBound))
        DNLog(QStringLiteral("A player tool did not end when killed"));
}

void NXAppController::showPlaybackTime()
{
    const double position = m_player->currentPlaybackTime();
    m_timeLabel->setText(timeText(position) + " / " + timeText(m_player->videoDuration()));
    m_playerView->playbackTimerStep(position);
}

void NXAppController::playbackDidEnd()
{
    NotificationCenter::defaultCenter().post(NXMediaTableView::kRefreshAllCells);
    // The end of one entry may come after the next one has begun.
    if (m_player->isPlayerBegin())
        return;
    m_playbackTimer->stop();
    showPlaybackTime();
}

// Told while the failed entry is still the player's.
void NXAppController::showPreviewMessage(const QString& message)
{
    m_previewMessageNode = m_player->currentNode();
    m_previewMessage->setText(message);
    m_previewMessage->setGeometry(m_previewMessage->parentWidget()->rect());
    m_previewMessage->raise();
    m_previewMessage->show();
}

void NXAppController::hidePreviewMessageOfRemovedEntry()
{
    if (!m_model->indexOf(m_previewMessageNode.lock()).isValid())
        m_previewMessage->hide();
}
