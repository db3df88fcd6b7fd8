#pragma once

#include "model/NXBasicMediaNode.h"

#include <QDialog>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <thread>

class NXDialogs;

// The photo loader: walks the chosen folders into one photo album on a
// loading thread while its sheet shows, then hands the album to the main
// thread. Cancel stops the walk at the next entry; the album keeps what was
// found. A walk that finds no photo ends in "Load Photo Failed!"; photos left
// out of an album are named in "Some photos were left out.".
class DNFileLoader : public QDialog {
    Q_OBJECT
public:
    DNFileLoader(NXDialogs& dialogs, QWidget* parent = nullptr);
    ~DNFileLoader() override;

    // The pause between the walk and the album's arrival, so that the sheet
    // does not merely flash.
    void setPause(std::chrono::milliseconds pause) { m_pause = pause; }
    bool load(const QStringList& folders);
    bool isLoading() const { return m_thread.joinable(); }

signals:
    // On the main thread.
    void albumLoaded(const NXBasicMediaNode::Ptr& album);

protected:
    void reject() override;

private:
    void run(const QStringList& folders);
    void finish(const NXBasicMediaNode::Ptr& album, const QString& error, const QString& leftOut);

    NXDialogs& m_dialogs;
    std::chrono::milliseconds m_pause { 500 };
    std::atomic_bool m_stop { false };
    std::thread m_thread;
};
