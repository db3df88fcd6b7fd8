#pragma once

#include <QString>

#include <variant>

// The streams of one source file, as the media probe found them, and the
// external audio and subtitle files the user attached. Plain values: a node
// owns its lists and copies travel freely between threads.

// One video stream. Ids are the container's own stream ids (MP4 track id, TS
// PID, PS start code, ...) as the file engine's "0:#id" specifier takes them;
// -1 when no id selects this one stream.
struct DNTVideo {
    float duration = 0.0f; // seconds with their fraction
    float fps = 0.0f;
    QString codec; // the codec tag as the probe reports it ("avc1", "mp2v", "2vuy"...)
    QString aspectRatio; // display aspect as the probe reports it ("16:9", "1.778")
    qint32 vid = -1;
    // The picture as it is shown: the stored picture turned by `rotation`.
    // The file engine turns the picture the same way before any filter, so
    // sizes, crops and boxes are all reckoned on this upright picture.
    qint32 width = 0;
    qint32 height = 0;
    // Clockwise degrees the stored picture is turned for display (phones
    // store portrait clips lying down): 0, 90, 180 or 270.
    qint32 rotation = 0;
    // The width over the height of one pixel of the upright picture: 1 for
    // square pixels, 64/45 for PAL DV at 16:9, 4/3 for HDV.
    double sampleAspect = 1.0;
    // The time of the first picture on the file's own clock, in seconds. A
    // transport or program stream's clock starts anywhere (a recording at
    // 1000 s), and the player names its pictures by it; every time shown or
    // asked for counts from that first picture.
    double firstPictureTime = 0.0;
    // Where the file's clock starts (at its earliest stream, often the sound),
    // which the file engine's "-ss" counts from.
    double fileStartTime = 0.0;
    QString language;
    // The colours the stream declares, in the file engine's names ("bt2020",
    // "smpte2084", "bt2020nc"); empty when it declares none.
    QString colorPrimaries;
    QString colorTransfer;
    QString colorMatrix;

    bool isQuarterTurned() const { return rotation == 90 || rotation == 270; }
    // The picture as the file stores it, before its rotation.
    qint32 storedWidth() const { return isQuarterTurned() ? height : width; }
    qint32 storedHeight() const { return isQuarterTurned() ? width : height; }
    // High dynamic range: the PQ (HDR10) or HLG transfer.
    bool isHighDynamicRange() const
    {
        return colorTransfer == QLatin1String("smpte2084")
            || colorTransfer == QLatin1String("arib-std-b67");
    }
};

// One audio stream of the file.
struct DNTAudio {
    float duration = 0.0f; // whole seconds
    qint32 aid = -1;
    QString language;
    QString codec;
    qint32 channels = 0;
    qint32 sampleRate = 0;
    // False when the channels carry no layout and the file engine knows none
    // for their count (32 channels): it cannot mix them into another count.
    bool channelLayoutKnown = true;
};

// An audio file the user added beside the source's own streams. Its length is
// not probed, so its duration stays 0.
struct DNTExtAudio : DNTAudio {
    QString path;

    static DNTExtAudio extAudioTrack(const QString& path);
};

// One subtitle stream inside the file.
struct DNTSubtitle {
    qint32 sid = -1;
    bool isTextformat = false; // text, as against pictures
    QString language;
};

// A subtitle file beside the source, or one the user chose.
struct DNTExtSubtitle : DNTSubtitle {
    // The language a new external subtitle starts with.
    static inline const QString kDefaultLanguage = QStringLiteral("en");

    QString path;
    QString codePage; // the file's character set, detected or chosen

    static DNTExtSubtitle extSubtitleTrack(const QString& path);
};

// The audio list holds the file's streams followed by added files, and the
// subtitle list the file's streams followed by at most one external file. The
// alternative held is the exact kind of the track.
using DNAudioTrack = std::variant<DNTAudio, DNTExtAudio>;
using DNSubtitleTrack = std::variant<DNTSubtitle, DNTExtSubtitle>;

// The fields every kind shares.
const DNTAudio& DNAudioFields(const DNAudioTrack& track);
DNTAudio& DNAudioFields(DNAudioTrack& track);
const DNTSubtitle& DNSubtitleFields(const DNSubtitleTrack& track);
DNTSubtitle& DNSubtitleFields(DNSubtitleTrack& track);

// The external record, or null when the track is the file's own stream.
const DNTExtSubtitle* DNExtSubtitleOf(const DNSubtitleTrack& track);
DNTExtSubtitle* DNExtSubtitleOf(DNSubtitleTrack& track);
const DNTExtAudio* DNExtAudioOf(const DNAudioTrack& track);
