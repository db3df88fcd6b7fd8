#include "shell/DNFileLoader.h"

#include "common/NXDialogs.h"
#include "platform/DNLogger.h"
#include "platform/NXAction.h"
#include "slideshow/DNGraphicsNode.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// The sheet is gone before the alert comes up.
constexpr std::chrono::milliseconds kAlertDelay { 250 };

} // namespace

DNFileLoader::DNFileLoader(NXDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
{
    setWindowTitle(QStringLiteral("Loading"));
    setWindowModality(Qt::WindowModal);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &DNFileLoader::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Loading photos..."), this));
    layout->addWidget(buttons);
}

DNFileLoader::~DNFileLoader()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool DNFileLoader::load(const QStringList& folders)
{
    if (m_thread.joinable() || folders.isEmpty())
        return false;
    m_stop = false;
    open();
    m_thread = std::thread([this, folders] { run(folders); });
    return true;
}

void DNFileLoader::run(const QStringList& folders)
{
    QString error;
    const std::shared_ptr<DNGraphicsNode> album
        = DNGraphicsNode::graphicsNodeWithDirs(folders, &m_stop, error);
    if (album) {
        // Its thumbnail signal must not belong to this thread, which ends now.
        album->graphicsNotifier()->moveToThread(QCoreApplication::instance()->thread());
        album->notifier()->moveToThread(QCoreApplication::instance()->thread());
        std::this_thread::sleep_for(m_pause);
    }
    NXBasicMediaNode::Ptr entry = album;
    const QString leftOut = album ? DNGraphicsNode::leftOutText(album->leftOutPhotos()) : QString();
    NXAction(this, [this, entry, error, leftOut] {
        finish(entry, error, leftOut);
    }).performOnTargetThread();
}

// The photos the album leaves out are named, as the list names the files it
// could not load.
void DNFileLoader::finish(
    const NXBasicMediaNode::Ptr& album, const QString& error, const QString& leftOut)
{
    if (m_thread.joinable())
        m_thread.join();
    accept();
    if (album)
        emit albumLoaded(album);
    if (album && leftOut.isEmpty())
        return;
    const QString title = album ? QStringLiteral("Some photos were left out.")
                                : QStringLiteral("Load Photo Failed!");
    const QString text = album ? leftOut : error;
    DNLog(title + ' ' + text);
    QTimer::singleShot(kAlertDelay, this, [this, title, text] {
        m_dialogs.runAlert(parentWidget(), { title, text, { QStringLiteral("OK") }, {} });
    });
}

void DNFileLoader::reject()
{
    m_stop = true;
}
