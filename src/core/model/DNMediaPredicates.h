#pragma once

class NXBasicMediaNode;

// Questions the command-line builders and the player ask of a list node.
// "Exactly a DNFileNode" excludes merge groups; formats are compared in upper case.

// Exactly a DNFileNode whose container is RealMedia.
bool DNIsRealMediaFile(const NXBasicMediaNode* node);
// Any file node whose container is AVI.
bool DNIsAVIFile(const NXBasicMediaNode* node);
// False only for exactly a DNFileNode in Matroska, WebM or an MPEG program
// stream, whose stream ids the engine cannot select by.
bool DNCanMapStreamsByID(const NXBasicMediaNode* node);
// Exactly a DNFileNode with a video track whose codec is "2vuy" in any case.
bool DNHas2vuyVideoTrack(const NXBasicMediaNode* node);
// A file node whose chosen video track is stored turned by a quarter (90 or
// 270 degrees): the player names the stored size and aspect, whose sides the
// upright picture swaps.
bool DNHasQuarterTurnedVideoTrack(const NXBasicMediaNode* node);
// Exactly a DNFileNode whose every video track has even sides, whichever the
// player plays: a picture the player only turns upright needs no padding to
// even sides for the frame link. False when a side is unknown.
bool DNHasEvenSidedVideoTracks(const NXBasicMediaNode* node);
// Exactly a DNFileNode in an MPEG transport stream (also BDAV) or program
// stream: the player reads it with its libavformat demuxer, whose seeks go by
// time (its own ones guess a byte position from a bit rate, often seconds
// off or past the end), its audio tracks numbered in order.
bool DNIsMpegSystemStream(const NXBasicMediaNode* node);
// The time of the chosen video track's first picture on the file's own clock
// (DNTVideo::firstPictureTime); 0 for any other node.
double DNFirstPictureTime(const NXBasicMediaNode* node);
