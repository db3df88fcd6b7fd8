#include "record/AudioDevice.h"

#include <algorithm>

namespace {

QString systemAudioMonitor()
{
    return QLatin1String(kSystemAudioSinkName) + QLatin1String(".monitor");
}

} // namespace

void AudioDevice::Init(const QString& name, bool isInput)
{
    mName = name;
    mIsInput = isInput;
    mChannelVolumes.clear();
    if (name.isEmpty())
        return;
    const std::vector<PulseDevice> devices = isInput ? PulseAudio::sources() : PulseAudio::sinks();
    const auto device = std::find_if(devices.begin(), devices.end(),
        [&name](const PulseDevice& candidate) { return candidate.name == name; });
    if (device == devices.end())
        return;
    mChannelVolumes = device->channelVolumes;
}

std::vector<AudioCaptureDevice> audioCaptureDevicesFrom(const std::vector<PulseDevice>& sources)
{
    std::vector<AudioCaptureDevice> devices;
    for (const PulseDevice& source : sources) {
        if (source.name == systemAudioMonitor())
            devices.push_back({ kSystemAudioDeviceID, source.description, source.name });
        else if (!source.isMonitor)
            devices.push_back({ source.name, source.description, source.name });
    }
    return devices;
}

std::vector<AudioCaptureDevice> audioCaptureDevices()
{
    return audioCaptureDevicesFrom(PulseAudio::sources());
}

AudioCaptureDevice audioCaptureDevice(const QString& uniqueID)
{
    const std::vector<AudioCaptureDevice> devices = audioCaptureDevices();
    const auto device = std::find_if(
        devices.begin(), devices.end(), [&uniqueID](const AudioCaptureDevice& candidate) {
            return candidate.uniqueID == uniqueID;
        });
    return device == devices.end() ? AudioCaptureDevice { uniqueID, {}, {} } : *device;
}
