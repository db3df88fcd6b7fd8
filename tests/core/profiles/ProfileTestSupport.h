#pragma once

// Helpers of the profile tests: the shared log's text, and profile files
// written from plain maps in XML or binary form.

#include "platform/DNLogger.h"

#include <QByteArray>
#include <QFile>
#include <QVariantMap>

#include <plist/plist.h>

#include <cstdlib>

inline QString sharedLogText()
{
    QFile file(DNLogger::shareRoughLog().path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

inline plist_t plistOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::QVariantList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : value.toList())
            plist_array_append_item(array, plistOf(item));
        return array;
    }
    case QMetaType::QVariantMap: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            plist_dict_set_item(dict, it.key().toUtf8().constData(), plistOf(it.value()));
        return dict;
    }
    default:
        return plist_new_string(value.toString().toUtf8().constData());
    }
}

enum class PlistForm { Xml, Binary };

inline QByteArray plistBytes(const QVariant& root, PlistForm form)
{
    plist_t plist = plistOf(root);
    char* bytes = nullptr;
    uint32_t length = 0;
    if (form == PlistForm::Xml)
        plist_to_xml(plist, &bytes, &length);
    else
        plist_to_bin(plist, &bytes, &length);
    const QByteArray result(bytes, qsizetype(length));
    std::free(bytes);
    plist_free(plist);
    return result;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

inline bool writeProfile(
    const QString& path, const QVariantMap& profile, PlistForm form = PlistForm::Xml)
{
    return writeFile(path, plistBytes(profile, form));
}

// A video profile with every parameter; tests change or drop keys of it.
inline QVariantMap fullProfile()
{
    const auto param = [](const QVariant& value, const char* listKey, const QVariantList& values) {
        return QVariantMap { { "DefaultValue", value }, { listKey, values } };
    };
    QVariantMap quality = param(1500, "VideoBitrates", { 800, 1500, 3000 });
    quality.insert("MaxVideoBitrate", 3000);
    quality.insert("BitrateModel", "VBR");
    return {
        { "ProfileName", "MP4 Video" },
        { "Category", "Formats" },
        { "GlobalID", 2001 },
        { "ArgvAssembler", "Video_To_MP4_With_AVEncoder" },
        { "FileNameSuffix", "mp4" },
        { "FileFormat", "iPod" },
        { "QualityPhase", 2 },
        { "EnableTwoPass", true },
        { "VideoCodec", param("libx264", "VideoCodecs", { "libx264", "mpeg4" }) },
        { "VideoQuality", quality },
        { "VideoFrameRate", param("29.97", "FrameRates", { "keep origin", "25", "29.97" }) },
        { "VideoResolution",
            param("640x480", "Resolutions", { "keep origin", "640x480", "1280x720" }) },
        { "VideoAspect", QVariantMap { { "DefaultValue", "4x3" } } },
        { "AudioCodec", param("aac", "AudioCodecs", { "aac" }) },
        { "AudioQuality", param("128", "AudioBitrates", { "96", "128", "192" }) },
        { "AudioSampleRate", param(44100, "SampleRates", { 44100, 48000 }) },
        { "AudioChannel", param("2", "AllowChannels", { "1", "2" }) },
    };
}
