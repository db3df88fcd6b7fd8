#pragma once

#include "model/NXBasicMediaNode.h"

#include <QDialog>
#include <QStringList>

#include <atomic>
#include <thread>

class DNProgressIndicator;
class NXDialogs;
class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

// Where DVD sources come from: the sheet offers the drives that hold a
// readable disc, a VIDEO_TS folder (or the folder holding one) and an ISO
// image; dropped DVD folders and images skip the choice. The chosen sources
// are read one after the other on a loader thread while the sheet shows
// which one; a source that cannot be read is named with the reason and
// nothing of it reaches the list.
class NXDVDSourceChooser : public QDialog {
    Q_OBJECT
public:
    NXDVDSourceChooser(NXDialogs& dialogs, QWidget* parent = nullptr);
    ~NXDVDSourceChooser() override;

    // A VIDEO_TS folder, a folder holding one (or holding the disc's IFO
    // files under another name), or an .iso file: a path that is read as a
    // DVD, not as photos or a media file.
    static bool isDVDSource(const QString& path);
    // The optical drives (/dev/sr*) that hold a disc the system can read.
    static QStringList drivesWithDisc();

    // Opens the sheet on the choice of a source.
    void chooseSource();
    // Reads the sources on the loader thread; one batch at a time.
    bool load(const QStringList& paths);
    bool isLoading() const { return m_thread.joinable(); }
    // The drives the choice page lists.
    QListWidget* driveList() const { return m_drives; }

signals:
    // On the main thread, one per source read.
    void dvdLoaded(const NXBasicMediaNode::Ptr& node);
    // On the main thread, after the batch.
    void batchFinished();

protected:
    void reject() override;

private:
    QWidget* buildChoicePage();
    QWidget* buildReadingPage();
    void fillDrives();
    void chooseFolder();
    void chooseImage();
    void chooseDrive();
    void run(const QStringList& paths);
    void finish(const QStringList& failures);

    NXDialogs& m_dialogs;
    QStackedWidget* m_pages = nullptr;
    QListWidget* m_drives = nullptr;
    QPushButton* m_openDisc = nullptr;
    QLabel* m_readingLabel = nullptr;
    DNProgressIndicator* m_busy = nullptr;
    std::atomic_bool m_cancelled { false };
    std::thread m_thread;
};
