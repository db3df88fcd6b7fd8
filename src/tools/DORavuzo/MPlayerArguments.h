#pragma once

#include <optional>
#include <string>
#include <vector>

// The player protocol's command line as mplayer on Linux takes it.
struct MPlayerArguments {
    std::vector<std::string> words; // mplayer's arguments, without the program
    std::optional<std::string> bufferName; // the frame link's name, when one was asked for
    // The part of the media whose pictures are shown, in seconds ("-showfrom"
    // and "-showto", the tool's own words): mplayer starts at a key frame,
    // and the pictures before the part, or from its end on, are dropped.
    std::optional<double> showFrom;
    std::optional<double> showTo;
    // The time of the picture mplayer starts at: "-landing", the tool's own
    // word, else where it is asked to start ("-ss"), else 0. They differ
    // where mplayer's seek names a decoding time counted from the media's
    // start (a transport stream), while its status lines, and the times of
    // the part shown, name pictures on the media's own clock.
    double startAt = 0;
};

// The file descriptor mplayer's yuv4mpeg output writes to.
inline constexpr int kPictureDescriptor = 3;

// Rewrites the words given to the tool:
// - "-ao coreaudio" becomes `audioOutputs`;
// - "-vo corevideo:...buffer_name=\"N\"" becomes the yuv4mpeg output on
//   kPictureDescriptor, and N the buffer name;
// - every "-vf" value joins one chain at the place of the first, since
//   mplayer keeps only the last "-vf" it is given; with the yuv4mpeg output
//   the chain ends in a padding to even sides, unless "-evensides" says the
//   pictures after the chain have even sides already;
// - "-showfrom S", "-showto E", "-landing L" and "-evensides" are taken out
//   for the tool;
// - options that read the user's mplayer setup are turned off, and so is
//   the loading of a subtitle file beside the media ("-noautosub", last, so
//   that no word before it turns it on again): only a "-sub" given is drawn.
// The other words pass unchanged, in their order.
MPlayerArguments rewriteArguments(
    const std::vector<std::string>& toolWords, const std::string& audioOutputs);
