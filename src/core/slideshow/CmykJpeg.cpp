#include "slideshow/CmykJpeg.h"

#include <QIODevice>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace {

// Beyond this the samples are not held in memory.
constexpr qint64 kLargestSampleBytes = 512LL * 1024 * 1024;

// The library reads through this; the manager comes first, so that the
// library's pointer to it is a pointer to the whole.
struct DeviceSource {
    jpeg_source_mgr manager {};
    QIODevice* device = nullptr;
    JOCTET buffer[65'536] {};
};

boolean fillBuffer(j_decompress_ptr info)
{
    auto* source = reinterpret_cast<DeviceSource*>(info->src);
    qint64 read
        = source->device->read(reinterpret_cast<char*>(source->buffer), sizeof source->buffer);
    if (read <= 0) {
        // A file cut short ends as if its end marker came; the library
        // leaves the rest of the picture grey.
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        read = 2;
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = static_cast<std::size_t>(read);
    return TRUE;
}

void skipData(j_decompress_ptr info, long count)
{
    jpeg_source_mgr& manager = *info->src;
    while (count > static_cast<long>(manager.bytes_in_buffer)) {
        count -= static_cast<long>(manager.bytes_in_buffer);
        fillBuffer(info);
    }
    if (count > 0) {
        manager.next_input_byte += count;
        manager.bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

void nothingToDo(j_decompress_ptr)
{ }

// The library's own handler ends the process; this one returns to the
// decoder with the reason.
struct JpegFailure {
    jpeg_error_mgr manager {};
    std::jmp_buf jump {};
    char message[JMSG_LENGTH_MAX] {};
};

[[noreturn]] void leaveDecoder(j_common_ptr info)
{
    auto* failure = reinterpret_cast<JpegFailure*>(info->err);
    failure->manager.format_message(info, failure->message);
    std::longjmp(failure->jump, 1);
}

void ignoreWarning(j_common_ptr, int)
{ }

unsigned scaleDenominator(QSize stored, QSize atLeast)
{
    for (const int denominator : { 8, 4, 2 })
        if ((stored.width() + denominator - 1) / denominator >= atLeast.width()
            && (stored.height() + denominator - 1) / denominator >= atLeast.height())
            return static_cast<unsigned>(denominator);
    return 1;
}

// Runs between the failure handler's jump point and its target: it holds
// nothing that would need to be destroyed.
bool readSamples(jpeg_decompress_struct& info, QSize atLeast, CmykSamples& samples)
{
    jpeg_read_header(&info, TRUE);
    if (info.num_components != 4)
        return false;
    info.out_color_space = JCS_CMYK;
    info.scale_num = 1;
    info.scale_denom = scaleDenominator(
        QSize(static_cast<int>(info.image_width), static_cast<int>(info.image_height)), atLeast);
    jpeg_calc_output_dimensions(&info);
    const qint64 rowBytes = qint64(info.output_width) * 4;
    if (rowBytes * info.output_height > kLargestSampleBytes)
        return false;
    jpeg_start_decompress(&info);
    samples.size = QSize(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    samples.inverted = info.saw_Adobe_marker;
    samples.inks.resize(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row
            = reinterpret_cast<JSAMPROW>(samples.inks.data() + rowBytes * info.output_scanline);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

} // namespace

std::optional<CmykSamples> decodeCmykJpeg(QIODevice& device, QSize atLeast, QString& error)
{
    const qint64 wasAt = device.pos();
    if (!device.seek(0)) {
        error = QStringLiteral("the file cannot be read again");
        return std::nullopt;
    }
    CmykSamples samples;
    const auto source = std::make_unique<DeviceSource>();
    source->device = &device;
    source->manager.init_source = nothingToDo;
    source->manager.fill_input_buffer = fillBuffer;
    source->manager.skip_input_data = skipData;
    source->manager.resync_to_restart = jpeg_resync_to_restart;
    source->manager.term_source = nothingToDo;
    JpegFailure failure;
    jpeg_decompress_struct info {};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = leaveDecoder;
    failure.manager.emit_message = ignoreWarning;
    volatile bool read = false;
    if (setjmp(failure.jump) == 0) {
        jpeg_create_decompress(&info);
        info.src = &source->manager;
        read = readSamples(info, atLeast, samples);
        if (!read)
            error = QStringLiteral("no CMYK picture of a size that can be held");
    } else {
        error = QString::fromLocal8Bit(failure.message);
    }
    jpeg_destroy_decompress(&info);
    device.seek(wasAt);
    if (!read)
        return std::nullopt;
    return samples;
}
