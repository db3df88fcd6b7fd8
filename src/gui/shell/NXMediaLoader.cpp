#include "shell/NXMediaLoader.h"

#include "controls/DNProgressIndicator.h"
#include "model/DNFileNode.h"
#include "platform/DNLogger.h"
#include "platform/NXAction.h"
#include "platform/NotificationCenter.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

NXMediaLoader::NXMediaLoader(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Loading"));
    setWindowModality(Qt::WindowModal);
    m_label = new QLabel(QStringLiteral("Loading media files..."), this);
    m_busy = new DNProgressIndicator(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &NXMediaLoader::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_busy);
    layout->addWidget(buttons);
}

NXMediaLoader::~NXMediaLoader()
{
    cancelAndJoin();
}

QStringList NXMediaLoader::mediaFileTypes()
{
    return { QStringLiteral("mp4"), QStringLiteral("m4v"), QStringLiteral("mov"),
        QStringLiteral("mkv"), QStringLiteral("webm"), QStringLiteral("avi"), QStringLiteral("wmv"),
        QStringLiteral("asf"), QStringLiteral("flv"), QStringLiteral("f4v"), QStringLiteral("mpg"),
        QStringLiteral("mpeg"), QStringLiteral("vob"), QStringLiteral("ts"), QStringLiteral("m2ts"),
        QStringLiteral("mts"), QStringLiteral("3gp"), QStringLiteral("3g2"), QStringLiteral("ogv"),
        QStringLiteral("ogm"), QStringLiteral("rm"), QStringLiteral("rmvb"), QStringLiteral("dv"),
        QStringLiteral("iso") };
}

bool NXMediaLoader::load(const QStringList& paths)
{
    if (m_thread.joinable() || paths.isEmpty())
        return false;
    m_cancelled = false;
    m_busy->startAnimation();
    open();
    m_thread = std::thread([this, paths] { run(paths); });
    return true;
}

void NXMediaLoader::run(const QStringList& paths)
{
    QStringList failed;
    for (int i = 0; i < paths.size(); ++i) {
        if (i > 0 && !waitOrCancel())
            break;
        const QString& path = paths.at(i);
        DNFileLoadFailure failure = DNFileLoadFailure::None;
        auto node = DNFileNode::fileNodeWithFile(path, true, &failure);
        if (!node) {
            DNLog(QStringLiteral("Could not load \"%1\"").arg(path));
            failed << QStringLiteral("%1: %2").arg(path, DNFileLoadFailureText(failure));
            continue;
        }
        NXBasicMediaNode::Ptr entry = node;
        NXAction(this, [this, entry] { emit nodeLoaded(entry); }).performOnTargetThread();
    }
    NXAction(this, [this, failed] { finish(failed); }).performOnTargetThread();
}

bool NXMediaLoader::waitOrCancel()
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, m_pause, [this] { return m_cancelled; });
}

void NXMediaLoader::finish(const QStringList& failedPaths)
{
    if (m_thread.joinable())
        m_thread.join();
    m_busy->stopAnimation();
    accept();
    NotificationCenter::defaultCenter().post(kLoadFinished, this);
    emit batchFinished(failedPaths);
}

void NXMediaLoader::reject()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    m_wake.notify_all();
}

void NXMediaLoader::cancelAndJoin()
{
    reject();
    if (m_thread.joinable())
        m_thread.join();
}
