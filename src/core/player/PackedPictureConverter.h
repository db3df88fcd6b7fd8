#pragma once

#include "player/MPlayerOSXVOProto.h"

#include <QImage>
#include <QSize>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct SwsContext;

// Turns the frame link's packed 8-bit 4:2:2 pictures into RGB images of one
// size: the picture's own, converted pixel for pixel, or a smaller one whose
// pixels are each averaged over the area they cover.
class PackedPictureConverter {
public:
    PackedPictureConverter(QSize pictureSize, MPlayerOSXVOProto::PixelFormat format);
    ~PackedPictureConverter();
    PackedPictureConverter(const PackedPictureConverter&) = delete;
    PackedPictureConverter& operator=(const PackedPictureConverter&) = delete;

    // The size images are made at from now on; false, with none made until a
    // size is set that can be, when swscale cannot convert to this one.
    bool setImageSize(QSize size);
    QSize imageSize() const { return m_imageSize; }
    // Bytes past a picture's end that swscale's vector code reads (and
    // ignores): convert() wants them readable.
    static constexpr std::size_t kReadablePastPicture = 64;

    // A picture of the size given at construction, rows top first with no
    // gap, followed by kReadablePastPicture readable bytes; a null image
    // while no size is set or when no memory is left.
    QImage convert(const unsigned char* picture);

private:
    void release();
    std::array<std::uint8_t*, 4> planes();
    void convertToPlanes(const unsigned char* picture);
    void convertPlanesToRgb(unsigned char* rgb, int rgbStride);

    QSize m_pictureSize;
    int m_pictureFormat = 0;
    QSize m_imageSize;
    // The planes' and the image buffer's size: whole blocks of the vector
    // code that turns planes into RGB.
    QSize m_blocks;
    SwsContext* m_toPlanes = nullptr;
    SwsContext* m_toRgb = nullptr;
    std::vector<unsigned char> m_planes;
    int m_lumaStride = 0;
    int m_chromaStride = 0;
};
