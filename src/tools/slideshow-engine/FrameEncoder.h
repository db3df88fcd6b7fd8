#pragma once

#include "YuvFrame.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/types.h>

// ffmpeg as a child that turns raw 4:2:0 frames on its standard input, and
// the music, into the movie. Each photo comes once as its still, which ffmpeg
// shows for the hold, and then as the frames of its transition. Frames are
// queued and written by a thread of our own, so that the next frame is drawn
// while ffmpeg reads this one. The child is ours alone: it is signalled by its
// pid and dies with us.
class FrameEncoder {
public:
    struct Settings {
        QSize frameSize;
        double framesPerSecond = 0;
        double seconds = 0; // the length of the movie and of its sound
        int holdFrames = 0; // frames a still is shown; with none, no still comes
        int transitionFrames = 1; // frames of each transition, each one written
        QStringList music; // played in order, padded with silence or cut to length
        QString output; // where ffmpeg writes (replaced if it exists)
        QString muxer; // "-f" for an output whose name does not tell; may be empty
    };
    using Frame = std::shared_ptr<const QByteArray>;
    using Complaint = std::function<void(const QString& line)>;
    using Written = std::function<void(qint64 bytes)>;

    // `stopRequested` is asked while the encoder waits, so that a stop is
    // noticed within a fraction of a second wherever we are. While it waits
    // for ffmpeg, `written` hears how far the output has grown, now and then:
    // a long hold is encoded from one frame, with nothing else to show for it.
    FrameEncoder(std::function<bool()> stopRequested, Complaint complain, Written written);
    ~FrameEncoder();
    FrameEncoder(const FrameEncoder&) = delete;
    FrameEncoder& operator=(const FrameEncoder&) = delete;

    bool start(const Settings& settings, QString& error);
    // Queues a frame; false once ffmpeg has failed or a stop was requested.
    bool write(Frame frame);
    // Ends the input and waits for ffmpeg; false with the reason when it failed.
    bool finish(QString& error);
    // Ends ffmpeg now (asked, then killed after a short grace) and reaps it.
    void abort();
    // ffmpeg's first line that said its disk is full; empty when none did.
    QString diskFullLine() const;
    // How long ffmpeg has taken nothing from us while we waited for it (a
    // frame that it does not read, or its end after the last one); nothing
    // when it is we who have nothing for it yet.
    std::optional<std::chrono::milliseconds> waitingForFfmpeg() const;

    // The ffmpeg command line for `settings`, without the program name.
    static QStringList arguments(const Settings& settings);

private:
    void writeFrames();
    void readComplaints(int fd);
    bool waitForExit(int& status);
    void reportGrowth();
    void endThreads();
    QString failureReason(int status) const;

    std::function<bool()> m_stopRequested;
    Complaint m_complain;
    Written m_written;
    QString m_output;
    qint64 m_outputSize = 0;
    std::chrono::steady_clock::time_point m_lastSizeLook;
    pid_t m_pid = -1;
    int m_input = -1;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Frame> m_queue; // guarded by m_mutex
    bool m_inputEnded = false; // guarded by m_mutex
    bool m_writeFailed = false; // guarded by m_mutex
    bool m_writing = false; // a frame is on its way to ffmpeg; guarded by m_mutex
    std::chrono::steady_clock::time_point m_lastTaken; // by ffmpeg; guarded by m_mutex
    QString m_lastComplaint; // guarded by m_mutex
    QString m_diskFullLine; // guarded by m_mutex

    std::thread m_writer;
    std::thread m_reader;
};
