#pragma once

#include "download/DNYoutubeLinkNode.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

// The states of a download-list entry, in the values the list shows.
enum class DNYoutubeNodeState : int {
    New = 0, // not queued, or put back after a run
    Waiting = 1, // its request was made and queued
    Downloading = 2,
    Finished = 3,
    Failed = 4,
    Skipped = 5, // the user skipped it
};

// One entry of the download list: an analysed page plus the state, progress
// and files of its download. The list row observes the state, the byte count
// and the playing mark through the signals.
class DNYoutubeNode : public QObject {
    Q_OBJECT
public:
    static std::shared_ptr<DNYoutubeNode> youtubeNode();

    DNYoutubeLinkNode& youtubeLink() { return m_youtubeLink; }
    const DNYoutubeLinkNode& youtubeLink() const { return m_youtubeLink; }
    void setYoutubeLink(const DNYoutubeLinkNode& link) { m_youtubeLink = link; }
    // The row view that shows this entry; the list owns it.
    QObject* cell() const { return m_cell; }
    void setCell(QObject* cell) { m_cell = cell; }

    DNYoutubeNodeState state() const { return m_state; }
    void setState(DNYoutubeNodeState state);
    qint64 downloadSize() const { return m_downloadSize; }
    void setDownloadSize(qint64 bytes);
    bool isPlaying() const { return m_isPlaying; }
    void setIsPlaying(bool playing);

    QString outputFile() const { return m_outputFile; }
    void setOutputFile(const QString& path) { m_outputFile = path; }
    QString tempVideoFile() const { return m_tempVideoFile; }
    void setTempVideoFile(const QString& path) { m_tempVideoFile = path; }
    QString tempAudioFile() const { return m_tempAudioFile; }
    void setTempAudioFile(const QString& path) { m_tempAudioFile = path; }

    const DNYoutubeVideoSegment* selectedSgmt() const { return m_youtubeLink.selectedSgmt(); }
    // The selected variant's size in MiB; 0 when none is selected.
    double videoSize() const;
    // The preview player's cache in MiB, or -1.0 for none: short or small
    // videos play without one.
    double bestCacheSizeForVideo() const;

signals:
    void stateChanged(DNYoutubeNodeState state);
    void downloadSizeChanged(qint64 bytes);
    void isPlayingChanged(bool playing);

private:
    DNYoutubeLinkNode m_youtubeLink;
    QPointer<QObject> m_cell;
    DNYoutubeNodeState m_state = DNYoutubeNodeState::New;
    qint64 m_downloadSize = 0;
    bool m_isPlaying = false;
    QString m_outputFile;
    QString m_tempVideoFile;
    QString m_tempAudioFile;
};
