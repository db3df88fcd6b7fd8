#pragma once

class QObject;

// What the playback view asks of its player while in full screen: the bar's
// numbers and the user's requests. The player control answers it; the view
// passes itself as `view`.
class NXMPlayerViewDelegate {
public:
    virtual ~NXMPlayerViewDelegate() = default;

    virtual double fullScreenModeRequestVideoDuration() const = 0;
    virtual double fullScreenModeRequestVideoVolume() const = 0;
    virtual double fullScreenModeRequestVideoCurrentPlaybackTime() const = 0;
    virtual void fullScreenModeRequestPauseOrContinue(QObject* view) = 0;
    virtual void fullScreenModeRequestSeek(QObject* view, double seconds) = 0;
    virtual void fullScreenModeRequestLouderVolume(QObject* view) = 0;
    virtual void fullScreenModeRequestLowerVolume(QObject* view) = 0;
    virtual void fullScreenModeRequestSetVolume(QObject* view, double volume) = 0;
    virtual void fullScreenModeRequestExite(QObject* view) = 0;
    virtual void fullScreenModeWillShowControlBar() = 0;
    virtual void fullScreenModeDidHiddenControlBar() = 0;
};
