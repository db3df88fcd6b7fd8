#pragma once

#include <QString>

#include <optional>

// The output metadata of a node. Absent and empty differ: an absent tag is
// not written at all, an empty one is written with an empty value.
struct DNNodeInfo {
    std::optional<QString> displayName; // the title tag of the output
    std::optional<QString> artist;
    std::optional<QString> genre;
    std::optional<QString> comments;
    // The requested output file name; its extension is replaced by the
    // profile's when the output path is made.
    std::optional<QString> outputName;

    bool operator==(const DNNodeInfo&) const = default;

    // The metadata a freshly loaded file starts with: its title tag or its
    // name without extension, its file name as output name, genre "Video",
    // and its performer tag or the program's name as artist. Empty tags count
    // as missing.
    static DNNodeInfo nodeInfoForFile(
        const QString& path, const QString& titleTag, const QString& performerTag);
};
