#pragma once

#include "record/PulseAudio.h"

#include <QString>

#include <vector>

// The virtual device that carries the system's sound: a null sink of the
// user's sound server, installed by the recorder window on request (see
// DNScreenRecorder::installVirtualDevice). What is played into it comes back
// on its monitor, which is recorded like a microphone under the capture ID below.
constexpr const char* kSystemAudioSinkName = "QuillonSysAudioCapture";
constexpr const char* kSystemAudioDeviceID = "com_farrowby_driver_AudioEngine:0";

// One sink or source of the sound server as the routing sees it: found by
// name, with its volumes as they were when it was read.
struct AudioDevice {
    AudioDevice() = default;
    AudioDevice(const QString& name, bool isInput) { Init(name, isInput); }

    // Reads the device anew; its volumes stay empty when the server has no
    // such device (or no server answers).
    void Init(const QString& name, bool isInput);

    QString mName;
    bool mIsInput = false;
    std::vector<quint32> mChannelVolumes;
};

// One device the recorder can take sound from.
struct AudioCaptureDevice {
    QString uniqueID; // kSystemAudioDeviceID for the virtual device, else the source's name
    QString localizedName;
    QString source; // the sound server's source that ffmpeg records
    bool operator==(const AudioCaptureDevice&) const = default;
};

// Every device sound can be recorded from, in the server's order: the virtual
// device (when installed) and each source that is not a monitor of a sink.
// Empty when no sound server answers.
std::vector<AudioCaptureDevice> audioCaptureDevices();
// The device with that ID, from a fresh list; its source is empty when none.
AudioCaptureDevice audioCaptureDevice(const QString& uniqueID);
// The devices of a source list, open for tests.
std::vector<AudioCaptureDevice> audioCaptureDevicesFrom(const std::vector<PulseDevice>& sources);
