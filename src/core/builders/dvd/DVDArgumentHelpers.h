#pragma once

#include "engine/EncodeConfig.h"

#include <QString>

#include <cstdint>
#include <optional>

class DNDVDNode;

// Helpers the DVD builders share. Plain functions without state; they run on
// the conversion worker thread.

// The value of mencoder's "-vf" for the title at `titleIndex`: deinterlacing,
// crop, scaling to the profile's size (padded to it when the setting asks),
// rotation and mirror, and a fixed tail. A picture under 32 pixels on a side,
// or a title or video track that is not there, is logged and gets the chain
// without crop and scale.
QString BuildVideoFilterChain(
    const DNDVDNode& node, int32_t titleIndex, const EncodeConfig& config);

// The rotation and mirror fragment for a number of quarter turns (0 to 3);
// none for no rotation without mirror and for any other number.
std::optional<QString> BuildRotateMirrorFilter(int32_t quarterTurns, bool mirror);

// A metadata text for "-info": double quotes become "_"; a missing text or
// one under two characters becomes a single blank.
QString ReplaceQuotesInMetadata(const std::optional<QString>& text);

// The full path of a new output in `folder` (the home folder when empty):
// the output name without its extension, a slash becomes "_" (quotes stay),
// "Untitled" when nothing is left, then `middle` ("_T2") and the extension
// chosen as for media files. Unique in the folder; nothing is created.
QString MakeOutputFileName(const QString& folder, const std::optional<QString>& outputName,
    const QString& middle, const QString& suffix);

// mencoder's audio filter for a volume in percent: "volnorm=1" for 100, else
// "volume=<dB>" with the gain 20 log10(percent / 100) written with one
// decimal, and -200 dB (silence) for 0. The filter takes decibels: a percent
// divided by 20 would raise the level at 50 % and leave 0 % as it is.
QString MEncoderVolumeFilter(quint32 percent);
