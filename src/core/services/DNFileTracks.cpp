#include "services/DNFileTracks.h"

DNTExtAudio DNTExtAudio::extAudioTrack(const QString& path)
{
    DNTExtAudio track;
    track.path = path;
    return track;
}

DNTExtSubtitle DNTExtSubtitle::extSubtitleTrack(const QString& path)
{
    DNTExtSubtitle track;
    track.path = path;
    track.isTextformat = true;
    track.language = kDefaultLanguage;
    return track;
}

const DNTAudio& DNAudioFields(const DNAudioTrack& track)
{
    return std::visit([](const DNTAudio& fields) -> const DNTAudio& { return fields; }, track);
}

DNTAudio& DNAudioFields(DNAudioTrack& track)
{
    return std::visit([](DNTAudio& fields) -> DNTAudio& { return fields; }, track);
}

const DNTSubtitle& DNSubtitleFields(const DNSubtitleTrack& track)
{
    return std::visit(
        [](const DNTSubtitle& fields) -> const DNTSubtitle& { return fields; }, track);
}

DNTSubtitle& DNSubtitleFields(DNSubtitleTrack& track)
{
    return std::visit([](DNTSubtitle& fields) -> DNTSubtitle& { return fields; }, track);
}

const DNTExtSubtitle* DNExtSubtitleOf(const DNSubtitleTrack& track)
{
    return std::get_if<DNTExtSubtitle>(&track);
}

DNTExtSubtitle* DNExtSubtitleOf(DNSubtitleTrack& track)
{
    return std::get_if<DNTExtSubtitle>(&track);
}

const DNTExtAudio* DNExtAudioOf(const DNAudioTrack& track)
{
    return std::get_if<DNTExtAudio>(&track);
}
