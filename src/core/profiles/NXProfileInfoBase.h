#pragma once

#include <QString>
#include <QStringList>

// One adjustable parameter of a profile: the values the profile offers, its
// default and the value chosen now. A profile file without the parameter's
// entry leaves it absent, with a null currentValue().
class NXProfileInfoBase {
public:
    bool isPresent() const { return m_present; }
    QString currentValue() const { return m_currentValue; }
    void setCurrentValue(const QString& value) { m_currentValue = value; }
    QString defaultValue() const { return m_defaultValue; }
    // The choices offered, the default among them.
    QStringList values() const { return m_values; }

    // Makes the parameter present with its choices; the current value becomes
    // the default.
    void setChoices(const QString& defaultValue, const QStringList& values)
    {
        m_present = true;
        m_defaultValue = defaultValue;
        m_currentValue = defaultValue;
        m_values = values;
    }

private:
    bool m_present = false;
    QString m_currentValue;
    QString m_defaultValue;
    QStringList m_values;
};

// Each parameter names its entry in the profile file ("key") and the list of
// choices inside that entry ("listKey").
class NXVideoCodec : public NXProfileInfoBase {
public:
    static constexpr const char* key = "VideoCodec";
    static constexpr const char* listKey = "VideoCodecs";
};

// The video bitrate in kbit/s, with the rate model and the ceiling of the
// constant-quality model.
class NXVideoQuality : public NXProfileInfoBase {
public:
    static constexpr const char* key = "VideoQuality";
    static constexpr const char* listKey = "VideoBitrates";
    // 0: "VBR", which the builders write as constant quality; 1: "CBR".
    static constexpr int VBR = 0;
    static constexpr int CBR = 1;

    int curBitrateModel() const { return m_curBitrateModel; }
    void setCurBitrateModel(int model) { m_curBitrateModel = model; }
    int maxVideoBitrate() const { return m_maxVideoBitrate; }
    void setMaxVideoBitrate(int kbits) { m_maxVideoBitrate = kbits; }

private:
    int m_curBitrateModel = CBR;
    int m_maxVideoBitrate = 0;
};

class NXVideoFrameRate : public NXProfileInfoBase {
public:
    static constexpr const char* key = "VideoFrameRate";
    static constexpr const char* listKey = "FrameRates";
};

class NXVideoResolution : public NXProfileInfoBase {
public:
    static constexpr const char* key = "VideoResolution";
    static constexpr const char* listKey = "Resolutions";
};

class NXVideoAspect : public NXProfileInfoBase {
public:
    static constexpr const char* key = "VideoAspect";
    static constexpr const char* listKey = "Aspects";
};

// The base of the sound parameters.
class NXOtherVideoInfoBase : public NXProfileInfoBase { };

class NXAudioCodec : public NXOtherVideoInfoBase {
public:
    static constexpr const char* key = "AudioCodec";
    static constexpr const char* listKey = "AudioCodecs";
};

// The audio bitrate in kbit/s.
class NXAudioQuality : public NXOtherVideoInfoBase {
public:
    static constexpr const char* key = "AudioQuality";
    static constexpr const char* listKey = "AudioBitrates";
};

// The sample rate in Hz, as the engine takes it after "-ar".
class NXAudioSampleRate : public NXOtherVideoInfoBase {
public:
    static constexpr const char* key = "AudioSampleRate";
    static constexpr const char* listKey = "SampleRates";
};

// The channel count, as the engine takes it after "-ac".
class NXAudioChannel : public NXOtherVideoInfoBase {
public:
    static constexpr const char* key = "AudioChannel";
    static constexpr const char* listKey = "AllowChannels";
};

class NXSubtitleOptions : public NXProfileInfoBase {
public:
    static constexpr const char* key = "SubtitleOptions";
    static constexpr const char* listKey = "Options";
};
