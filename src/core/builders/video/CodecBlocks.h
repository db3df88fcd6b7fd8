#pragma once

#include "builders/video/BuilderFrame.h"

// Codec options and rate-control pieces that several output formats share.

// The encoder's buffer in kbit/s under a bitrate ceiling.
constexpr int kVideoBufferSize = 1835;

// Three settings of the constant-quality model, chosen by the profile's
// quality step: 2 (best), 0 (smallest) and every other step.
struct QualityStep {
    int first;
    int second;
    int third;
};

QualityStep qualityStepOf(
    const VideoFrame& frame, QualityStep best, QualityStep smallest, QualityStep usual);

// The profile asks for constant quality ("VBR") rather than a bitrate.
bool isConstantQuality(const VideoFrame& frame);

// "-minrate" and "-maxrate" at the profile's bitrate, "-bufsize" 1835k.
void writeBitrateBounds(VideoFrame& frame);

// "-c:v" with the encoder and nothing more: "-b:v" alone sets the rate.
FrameHook videoCodecOnly(const char* encoder);

// MPEG-4 Part 2 with `encoder` ("libxvid" or "mpeg4"): fixed options, then
// the bitrate bounds (none for a profile of the "ipod" kind, whatever its
// case), or quantiser limits under the profile's bitrate ceiling.
void writeMpeg4Block(VideoFrame& frame, const char* encoder);

// H.264 through libx264 with options for small players ("-profile:v"
// "baseline" only for the file format exactly "ipod"), then the bitrate
// bounds, or CRF and quantiser limits under the profile's bitrate ceiling.
void writeH264Block(VideoFrame& frame);
