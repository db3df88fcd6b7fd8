#pragma once

#include <QByteArray>
#include <QImage>

// A frame as the encoder reads it from the pipe: planar 4:2:0, BT.601 limited
// range (what ffmpeg itself assumes for unlabelled video of these sizes), the
// chroma of each 2x2 block averaged. Pixels that are not opaque count as
// laid over black. Rows are converted on a few threads.
namespace YuvFrame {

// `image` is Format_ARGB32_Premultiplied with even sides.
QByteArray fromImage(const QImage& image);

} // namespace YuvFrame
