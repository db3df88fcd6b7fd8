#include "shell/NXDVDSourceChooser.h"

#include "common/NXDialogs.h"
#include "controls/DNProgressIndicator.h"
#include "model/DNDVDNode.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/NXAction.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool isNamedVideoTS(const QFileInfo& folder)
{
    return folder.fileName().compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0;
}

bool holdsVideoTS(const QDir& folder)
{
    const QStringList entries = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return std::any_of(entries.begin(), entries.end(), [](const QString& name) {
        return name.compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0;
    });
}

// A disc's tables copied into a folder of another name.
bool holdsDiscTables(const QDir& folder)
{
    return !folder
                .entryList(
                    { QStringLiteral("VIDEO_TS.IFO"), QStringLiteral("VTS_*.IFO") }, QDir::Files)
                .isEmpty();
}

// The drive answers for the disc itself: a drive without a disc, or with one
// it cannot read yet, is no source.
bool driveHoldsDisc(const QString& device)
{
    const int handle = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NONBLOCK);
    if (handle < 0)
        return false;
    const int status = ::ioctl(handle, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    ::close(handle);
    return status == CDS_DISC_OK;
}

// The node was made on the loader thread; its notifiers must live where the
// list observes them.
void moveToMainThread(const NXBasicMediaNode& node)
{
    QThread* const main = QCoreApplication::instance()->thread();
    node.notifier()->moveToThread(main);
    for (const auto& child : node.children())
        child->notifier()->moveToThread(main);
}

} // namespace

NXDVDSourceChooser::NXDVDSourceChooser(NXDialogs& dialogs, QWidget* parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
{
    setWindowTitle(QStringLiteral("Add DVD"));
    setWindowModality(Qt::WindowModal);
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(buildChoicePage());
    m_pages->addWidget(buildReadingPage());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
}

NXDVDSourceChooser::~NXDVDSourceChooser()
{
    m_cancelled = true;
    if (m_thread.joinable())
        m_thread.join();
}

QWidget* NXDVDSourceChooser::buildChoicePage()
{
    auto* page = new QWidget(this);
    m_drives = new QListWidget(page);
    m_openDisc = new QPushButton(QStringLiteral("Open Disc"), page);
    auto* fromFolder = new QPushButton(QStringLiteral("VIDEO_TS Folder..."), page);
    auto* fromImage = new QPushButton(QStringLiteral("ISO Image..."), page);
    auto* cancel = new QDialogButtonBox(QDialogButtonBox::Cancel, page);
    connect(m_openDisc, &QPushButton::clicked, this, &NXDVDSourceChooser::chooseDrive);
    connect(m_drives, &QListWidget::itemDoubleClicked, this, &NXDVDSourceChooser::chooseDrive);
    connect(fromFolder, &QPushButton::clicked, this, &NXDVDSourceChooser::chooseFolder);
    connect(fromImage, &QPushButton::clicked, this, &NXDVDSourceChooser::chooseImage);
    connect(cancel, &QDialogButtonBox::rejected, this, &NXDVDSourceChooser::reject);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new QLabel(QStringLiteral("Discs in the drives:"), page));
    layout->addWidget(m_drives);
    layout->addWidget(m_openDisc);
    layout->addWidget(fromFolder);
    layout->addWidget(fromImage);
    layout->addWidget(cancel);
    return page;
}

QWidget* NXDVDSourceChooser::buildReadingPage()
{
    auto* page = new QWidget(this);
    m_readingLabel = new QLabel(page);
    m_readingLabel->setWordWrap(true);
    m_busy = new DNProgressIndicator(page);
    auto* cancel = new QDialogButtonBox(QDialogButtonBox::Cancel, page);
    connect(cancel, &QDialogButtonBox::rejected, this, &NXDVDSourceChooser::reject);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_readingLabel);
    layout->addWidget(m_busy);
    layout->addWidget(cancel);
    return page;
}

bool NXDVDSourceChooser::isDVDSource(const QString& path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return info.suffix().compare(QLatin1String("iso"), Qt::CaseInsensitive) == 0;
    if (!info.isDir())
        return false;
    const QDir folder(path);
    return isNamedVideoTS(info) || holdsVideoTS(folder) || holdsDiscTables(folder);
}

QStringList NXDVDSourceChooser::drivesWithDisc()
{
    QStringList drives;
    for (const QString& name :
        QDir(QStringLiteral("/dev"))
            .entryList({ QStringLiteral("sr*") }, QDir::System | QDir::Files, QDir::Name)) {
        const QString device = QStringLiteral("/dev/") + name;
        if (driveHoldsDisc(device))
            drives << device;
    }
    return drives;
}

void NXDVDSourceChooser::fillDrives()
{
    m_drives->clear();
    m_drives->addItems(drivesWithDisc());
    m_openDisc->setEnabled(m_drives->count() > 0);
    if (m_drives->count() > 0)
        m_drives->setCurrentRow(0);
}

void NXDVDSourceChooser::chooseSource()
{
    if (isLoading())
        return;
    fillDrives();
    m_pages->setCurrentIndex(0);
    open();
}

void NXDVDSourceChooser::chooseDrive()
{
    if (const QListWidgetItem* item = m_drives->currentItem())
        load({ item->text() });
}

void NXDVDSourceChooser::chooseFolder()
{
    const QString folder = m_dialogs.chooseFolder(
        this, QStringLiteral("Choose a VIDEO_TS Folder"), NXPanelStartFolder(NXPanelKind::Videos));
    if (folder.isEmpty())
        return;
    NXRememberPanelFolder(NXPanelKind::Videos, folder);
    load({ folder });
}

void NXDVDSourceChooser::chooseImage()
{
    const QString image = m_dialogs.openFile(this, QStringLiteral("Choose an ISO Image"),
        { QStringLiteral("iso"), QStringLiteral("ISO") }, NXPanelStartFolder(NXPanelKind::Videos));
    if (image.isEmpty())
        return;
    NXRememberPanelFolder(NXPanelKind::Videos, image);
    load({ image });
}

bool NXDVDSourceChooser::load(const QStringList& paths)
{
    if (isLoading() || paths.isEmpty())
        return false;
    m_cancelled = false;
    m_readingLabel->setText(QStringLiteral("Reading %1...").arg(paths.join(QStringLiteral(", "))));
    m_pages->setCurrentIndex(1);
    m_busy->startAnimation();
    open();
    m_thread = std::thread([this, paths] { run(paths); });
    return true;
}

void NXDVDSourceChooser::run(const QStringList& paths)
{
    QStringList failures;
    for (const QString& path : paths) {
        if (m_cancelled)
            break;
        QString reason;
        const auto node
            = DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(path), &reason);
        if (!node) {
            failures << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), reason);
            continue;
        }
        moveToMainThread(*node);
        NXBasicMediaNode::Ptr entry = node;
        // A source read after a cancel is dropped with the batch.
        NXAction(this, [this, entry] {
            if (!m_cancelled)
                emit dvdLoaded(entry);
        }).performOnTargetThread();
    }
    NXAction(this, [this, failures] { finish(failures); }).performOnTargetThread();
}

void NXDVDSourceChooser::finish(const QStringList& failures)
{
    if (m_thread.joinable())
        m_thread.join();
    m_busy->stopAnimation();
    QDialog::accept();
    if (!failures.isEmpty()) {
        DNLog(
            QStringLiteral("Could not read the DVD: %1").arg(failures.join(QStringLiteral("; "))));
        m_dialogs.runAlert(parentWidget(),
            { QStringLiteral("Could not read the DVD"), failures.join(QLatin1Char('\n')),
                { QStringLiteral("OK") }, {} });
    }
    emit batchFinished();
}

void NXDVDSourceChooser::reject()
{
    // The reader cannot be interrupted inside the disc's tables; what it
    // finishes after a cancel is thrown away, and the sheet closes with it.
    m_cancelled = true;
    if (!isLoading())
        QDialog::reject();
}
