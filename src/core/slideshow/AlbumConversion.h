#pragma once

#include "engine/DNVideoConverter.h"

#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class DNGraphicsNode;
class DNProfile;
class NXImageEngine;

// The converter's step for a photo album: the slideshow engine renders the
// album into an intermediate movie in the output folder (under a hidden
// partial name of ours), which is then converted with the album's profile
// like a video file and removed. The main window and the slideshow-one tool
// run this same step. It runs on the converter's worker thread;
// renderProgress() and stopEncoding() come from another thread meanwhile.
class AlbumConversion {
public:
    // A render with the default size or rate: "keep origin", or a profile
    // without the value (an audio profile).
    static constexpr int kDefaultFrameRate = 30;
    static inline const QSizeF kDefaultFrameSize { 1280, 720 };
    // After the render the sheet gets one more poll to show the last photo
    // land in the movie before the conversion takes the sheet over.
    static constexpr std::chrono::milliseconds kPauseAfterRender { 1100 };

    struct Hooks {
        // The converter's stop flag.
        std::function<bool()> stopRequested;
        // The render is about to start: the progress sheet turns to its photo view.
        std::function<void()> renderWillStart;
        // The movie is complete; it is removed again after its conversion.
        std::function<void(const QString& movie)> movieRendered;
        // Receives the file encoder's state codes while the movie is converted.
        DNVideoConverterStateCallback stateCallback = nullptr;
        void* context = nullptr;
    };

    explicit AlbumConversion(Hooks hooks);
    ~AlbumConversion();
    AlbumConversion(const AlbumConversion&) = delete;
    AlbumConversion& operator=(const AlbumConversion&) = delete;

    // Renders the album and, when `encode2VideoWithAVEncode`, converts the
    // movie and removes it. 0 on success, kDNVideoConverterStopped when the
    // stop flag ended it, kDNVideoConverterFailed when no usable movie came
    // out (the reason is logged), else the conversion's own status.
    int encodeGraphics2QuickTimeMovie(
        const std::shared_ptr<DNGraphicsNode>& album, bool encode2VideoWithAVEncode);

    // Why the last album failed before its movie reached the converter (the
    // render, or reading the movie back); empty when it did not.
    QString lastFailure() const;

    // While the engine renders: "EncodeCategory" 0, "totalFrames",
    // "currentFrame" and "currentImage" (a null value before the engine's
    // first report). Nothing otherwise.
    std::optional<QVariantMap> renderProgress() const;
    // Ends a running render; the caller sets its stop flag first.
    void stopEncoding();
    void setPauseAfterRender(std::chrono::milliseconds pause) { m_pause = pause; }

    // The render's size and whole frame rate from the profile: its frame as
    // the profile's display aspect shows it, in square pixels (720x480 at
    // 4:3 gives 640x480); 29.97 gives 29.
    static QSizeF frameSizeOf(const DNProfile* profile);
    static int frameRateOf(const DNProfile* profile);
    // The photos in showing order: each folder record's photos, folder by folder.
    static QStringList photoPaths(const DNGraphicsNode& album);

private:
    // The movie; a hidden one of ours when it is `intermediate`.
    QString render(const DNGraphicsNode& album, bool intermediate);
    bool pauseUnlessStopped();
    bool stopRequested() const;
    int convertMovie(DNGraphicsNode& album, const QString& movie, bool convert);
    void fail(const QString& reason);

    const Hooks m_hooks;
    std::chrono::milliseconds m_pause = kPauseAfterRender;
    mutable std::mutex m_mutex; // guards m_engine
    std::condition_variable m_wake;
    std::shared_ptr<NXImageEngine> m_engine; // while it renders
    QString m_failure; // guarded by m_mutex
};
