#include "common/NXFloatInfoWindowController.h"

#include "model/DNDVDTitle.h"
#include "model/DNFileNode.h"
#include "services/DNHelpers.h"

#include <QFileInfo>
#include <QPointer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString sizeText(double width, double height)
{
    return QStringLiteral("%1x%2").arg(qRound(width)).arg(qRound(height));
}

NXFloatInfoWindowController::Facts fileFacts(const DNFileNode& file)
{
    NXFloatInfoWindowController::Facts facts {
        { QStringLiteral("File"), QFileInfo(file.path()).fileName() },
        { QStringLiteral("Format"), file.fileFormat() },
        { QStringLiteral("Duration"), DNTimeStringFromSeconds(int(file.duration())) },
    };
    for (const DNTVideo& video : file.videoTracks())
        facts.append({ QStringLiteral("Video"),
            QStringLiteral("%1, %2, %3 fps, %4")
                .arg(video.codec, sizeText(video.width, video.height))
                .arg(double(video.fps), 0, 'f', 2)
                .arg(video.aspectRatio) });
    for (const DNAudioTrack& track : file.audioTracks()) {
        const DNTAudio& audio = DNAudioFields(track);
        facts.append({ QStringLiteral("Audio"),
            QStringLiteral("%1, %2 channels, %3 Hz")
                .arg(audio.codec)
                .arg(audio.channels)
                .arg(audio.sampleRate) });
    }
    return facts;
}

NXFloatInfoWindowController::Facts titleFacts(const DNDVDTitle& title)
{
    NXFloatInfoWindowController::Facts facts {
        { QStringLiteral("Title"), QString::number(title.titleNumber()) },
        { QStringLiteral("Duration"), DNTimeStringFromSeconds(title.length()) },
    };
    for (const DNDVDTVideo& video : title.videoTracks())
        facts.append({ QStringLiteral("Video"),
            QStringLiteral("%1, %2 fps")
                .arg(sizeText(video.videoResolution.width(), video.videoResolution.height()))
                .arg(title.fps(), 0, 'f', 2) });
    facts.append({ QStringLiteral("Audio tracks"), QString::number(title.audioTracks().size()) });
    return facts;
}

} // namespace

NXFloatInfoWindowController::NXFloatInfoWindowController()
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Media Information"));
    m_factsView = new QTreeWidget(this);
    m_factsView->setColumnCount(2);
    m_factsView->setHeaderHidden(true);
    m_factsView->setRootIsDecorated(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_factsView);
    resize(420, 240);
}

NXFloatInfoWindowController* NXFloatInfoWindowController::shareInstance()
{
    // A window the user closes is only hidden, so the instance lives on.
    static QPointer<NXFloatInfoWindowController> instance;
    if (!instance)
        instance = new NXFloatInfoWindowController;
    return instance;
}

NXFloatInfoWindowController::Facts NXFloatInfoWindowController::factsOfNode(
    const NXBasicMediaNode& node)
{
    if (const auto* file = dynamic_cast<const DNFileNode*>(&node))
        return fileFacts(*file);
    if (const auto* title = dynamic_cast<const DNDVDTitle*>(&node))
        return titleFacts(*title);
    return {};
}

void NXFloatInfoWindowController::showWindowWithNode(const NXBasicMediaNode::Ptr& node)
{
    m_factsView->clear();
    if (node)
        for (const auto& [name, value] : factsOfNode(*node))
            m_factsView->addTopLevelItem(new QTreeWidgetItem({ name, value }));
    m_factsView->resizeColumnToContents(0);
    show();
    raise();
}
