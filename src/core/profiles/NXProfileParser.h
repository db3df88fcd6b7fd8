#pragma once

#include "profiles/NXProfileInfoBase.h"

#include <QString>

// The two kinds of profile: those for DVD titles and those for media files.
constexpr int DNProfileTypeDVD = 1;
constexpr int DNProfileTypeVideo = 2;

// One output profile as its property-list file describes it (the layout is
// documented in resources/profiles/README.md), with the user's current
// choices. A value type: copies are independent.
class NXProfileParser {
public:
    QString filePath() const { return m_filePath; }
    int profileType() const { return m_profileType; }
    QString profileName() const { return m_profileName; }
    QString category() const { return m_category; }
    // The name of the builder that makes the command line.
    QString argvAssembler() const { return m_argvAssembler; }
    int GlobalID() const { return m_globalID; }
    QString fileFormat() const { return m_fileFormat; }
    // The output's extension, without a point.
    QString fileNameSuffix() const { return m_fileNameSuffix; }

    // The step of the constant-quality model; the builders tell 2, 0 and
    // every other value apart.
    int qualityPhase() const { return m_qualityPhase; }
    void setQualityPhase(int phase) { m_qualityPhase = phase; }
    bool userEnableTwopassCode() const { return m_twoPass; }
    void setUserEnableTwopassCode(bool on) { m_twoPass = on; }

    const NXVideoCodec& videoCodec() const { return m_videoCodec; }
    NXVideoCodec& videoCodec() { return m_videoCodec; }
    const NXVideoQuality& videoQuality() const { return m_videoQuality; }
    NXVideoQuality& videoQuality() { return m_videoQuality; }
    const NXVideoFrameRate& videoFrameRate() const { return m_videoFrameRate; }
    NXVideoFrameRate& videoFrameRate() { return m_videoFrameRate; }
    const NXVideoResolution& videoResolution() const { return m_videoResolution; }
    NXVideoResolution& videoResolution() { return m_videoResolution; }
    const NXVideoAspect& videoAspect() const { return m_videoAspect; }
    NXVideoAspect& videoAspect() { return m_videoAspect; }
    const NXAudioCodec& audioCodec() const { return m_audioCodec; }
    NXAudioCodec& audioCodec() { return m_audioCodec; }
    const NXAudioQuality& audioQuality() const { return m_audioQuality; }
    NXAudioQuality& audioQuality() { return m_audioQuality; }
    const NXAudioSampleRate& audioSampleRate() const { return m_audioSampleRate; }
    NXAudioSampleRate& audioSampleRate() { return m_audioSampleRate; }
    const NXAudioChannel& audioChannel() const { return m_audioChannel; }
    NXAudioChannel& audioChannel() { return m_audioChannel; }
    const NXSubtitleOptions& subtitleOptions() const { return m_subtitleOptions; }
    NXSubtitleOptions& subtitleOptions() { return m_subtitleOptions; }

protected:
    NXProfileParser() = default;

    // Reads the file; false with `error` naming the file and the key that
    // made it unusable.
    bool parseFile(const QString& path, int profileType, QString& error);

    // Calls f with every parameter of the profile, in a fixed order.
    template<class Self, class F> static void forEachInfo(Self& self, F&& f)
    {
        f(self.m_videoCodec);
        f(self.m_videoQuality);
        f(self.m_videoFrameRate);
        f(self.m_videoResolution);
        f(self.m_videoAspect);
        f(self.m_audioCodec);
        f(self.m_audioQuality);
        f(self.m_audioSampleRate);
        f(self.m_audioChannel);
        f(self.m_subtitleOptions);
    }

private:
    QString m_filePath;
    int m_profileType = DNProfileTypeVideo;
    QString m_profileName;
    QString m_category;
    QString m_argvAssembler;
    int m_globalID = 0;
    QString m_fileFormat;
    QString m_fileNameSuffix;
    int m_qualityPhase = 1;
    bool m_twoPass = false;
    NXVideoCodec m_videoCodec;
    NXVideoQuality m_videoQuality;
    NXVideoFrameRate m_videoFrameRate;
    NXVideoResolution m_videoResolution;
    NXVideoAspect m_videoAspect;
    NXAudioCodec m_audioCodec;
    NXAudioQuality m_audioQuality;
    NXAudioSampleRate m_audioSampleRate;
    NXAudioChannel m_audioChannel;
    NXSubtitleOptions m_subtitleOptions;
};
