#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// A frame as the encoder reads it from the pipe: planar 4:2:0, limited range,
// the chroma of each 2x2 block averaged. Pixels that are not opaque count as
// laid over black. Rows are converted on the machine's cores.
namespace YuvFrame {

// The matrix from the photos' RGB: BT.709 for HD frames, BT.601 for smaller
// ones, as players assume for movies that do not say.
enum class Matrix { Bt601, Bt709 };
Matrix matrixFor(QSize frameSize);

// `image` is Format_ARGB32_Premultiplied with even sides.
QByteArray fromImage(const QImage& image, Matrix matrix);

} // namespace YuvFrame
