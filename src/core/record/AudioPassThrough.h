#pragma once

#include "record/AudioDevice.h"

#include <optional>
#include <utility>

// Copies what the virtual device captures to the real output while the
// system's sound is routed into it, so that the user still hears it. The
// sound server does the copying (and any resampling) in a loopback module;
// this record owns that module by its index.
class AudioPassThrough {
public:
    // The virtual device's sink name and the real output's sink name.
    AudioPassThrough(const QString& virtualSink, const QString& outputSink);
    ~AudioPassThrough();
    AudioPassThrough(const AudioPassThrough&) = delete;
    AudioPassThrough& operator=(const AudioPassThrough&) = delete;

    // Loads the loopback; false (with the server's complaint on standard
    // error) when it could not. Does nothing when already running.
    bool Start();
    // Unloads the loopback this record loaded, and nothing else.
    void Stop();
    // Hands the loopback it loaded over, still loaded, to a caller who
    // unloads it (or leaves it written down for a later run); nothing while stopped.
    std::optional<quint32> release() { return std::exchange(mModuleIndex, std::nullopt); }

    // The loaded module's index; nothing while stopped (Pulse counts from 0).
    std::optional<quint32> moduleIndex() const { return mModuleIndex; }

    // Module name and arguments of the loopback, open for tests and for the
    // leftover check, which must recognise a loopback of ours.
    static const char* moduleName();
    static QStringList moduleArguments(const QString& virtualSink, const QString& outputSink);
    static bool isOurLoopback(const PulseModule& module, const QString& virtualSink);

private:
    QString mVirtualSink;
    QString mOutputSink;
    std::optional<quint32> mModuleIndex;
};
