#include "platform/jpeg/Jpeg.h"

#include <QFile>
#include <QSaveFile>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

// jpeglib.h expects size_t and FILE to be declared first.
#include <jpeglib.h>

namespace {

// Where libjpeg can write QImage::Format_RGB32's own byte order (0xffRRGGBB in native order),
// grey and colour pictures are decoded straight into the image's rows.
#if defined(JCS_EXTENSIONS) && defined(JCS_ALPHA_EXTENSIONS)
constexpr bool DirectRows = true;
constexpr J_COLOR_SPACE DirectSpace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRA : JCS_EXT_ARGB;
#else
constexpr bool DirectRows = false;
constexpr J_COLOR_SPACE DirectSpace = JCS_RGB;
#endif

// libjpeg reports a fatal error by calling error_exit, which must not return: we jump back to
// the caller's setjmp. Warnings (corrupt data it skipped, a stream that ended early and was
// padded with grey) are counted, and a decode that needed any is refused: a half-grey button is
// worse than a missing one.
struct TJpegError
{
    jpeg_error_mgr Mgr;
    std::jmp_buf Jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
    std::longjmp(err->Jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level)
{
    // Level -1 is a warning; positive levels are trace output, which we never want.
    if (level < 0)
        cinfo->err->num_warnings++;
}

void OutputMessage(j_common_ptr) {}

void InstallErrorManager(TJpegError& err)
{
    jpeg_std_error(&err.Mgr);
    err.Mgr.error_exit = ErrorExit;
    err.Mgr.emit_message = EmitMessage;
    err.Mgr.output_message = OutputMessage;
}

// Everything that must survive a longjmp lives on the heap and is reached through a pointer
// that is never reassigned after setjmp, so its contents are well defined afterwards.
struct TDecodeJob
{
    TJpegError Err;
    jpeg_decompress_struct Info;
    QImage Image;
};

inline QRgb CmykToRgb(int c, int m, int y, int k, bool inverted)
{
    // Adobe writes CMYK inverted (0 = full ink); others write it straight.
    if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    return qRgb(c * k / 255, m * k / 255, y * k / 255);
}

void StoreRow(const jpeg_decompress_struct& info, const JSAMPLE* in, QRgb* out)
{
    const JDIMENSION width = info.output_width;
    switch (info.out_color_space) {
    case JCS_GRAYSCALE:
        for (JDIMENSION x = 0; x < width; ++x)
            out[x] = qRgb(in[x], in[x], in[x]);
        break;
    case JCS_CMYK:
        for (JDIMENSION x = 0; x < width; ++x, in += 4)
            out[x] = CmykToRgb(in[0], in[1], in[2], in[3], info.saw_Adobe_marker);
        break;
    default:
        for (JDIMENSION x = 0; x < width; ++x, in += 3)
            out[x] = qRgb(in[0], in[1], in[2]);
        break;
    }
}

QImage Decode(const unsigned char* data, unsigned long size)
{
    const std::unique_ptr<TDecodeJob> job = std::make_unique<TDecodeJob>();
    InstallErrorManager(job->Err);
    job->Info.err = &job->Err.Mgr;

    if (setjmp(job->Err.Jump)) {
        jpeg_destroy_decompress(&job->Info);
        return {};
    }

    jpeg_create_decompress(&job->Info);
    jpeg_mem_src(&job->Info, data, size);
    jpeg_read_header(&job->Info, TRUE);

    switch (job->Info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        job->Info.out_color_space = DirectRows ? DirectSpace : JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        job->Info.out_color_space = JCS_CMYK;
        break;
    default:
        job->Info.out_color_space = DirectRows ? DirectSpace : JCS_RGB;
        break;
    }
    const bool direct = job->Info.out_color_space == DirectSpace && DirectRows;

    const qint64 pixels = qint64(job->Info.image_width) * job->Info.image_height;
    if (pixels <= 0 || pixels > MaxJpegPixels) {
        jpeg_destroy_decompress(&job->Info);
        return {};
    }

    jpeg_start_decompress(&job->Info);
    job->Image =
        QImage(int(job->Info.output_width), int(job->Info.output_height), QImage::Format_RGB32);
    if (job->Image.isNull()) {
        jpeg_destroy_decompress(&job->Info);
        return {};
    }

    // The row buffer belongs to libjpeg's pool, so a longjmp out of a scanline read frees it.
    const JDIMENSION rowBytes = job->Info.output_width * JDIMENSION(job->Info.output_components);
    JSAMPARRAY row = (*job->Info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&job->Info),
                                                    JPOOL_IMAGE, rowBytes, 1);
    while (job->Info.output_scanline < job->Info.output_height) {
        const JDIMENSION y = job->Info.output_scanline;
        auto* out = reinterpret_cast<QRgb*>(job->Image.scanLine(int(y)));
        JSAMPROW target = direct ? reinterpret_cast<JSAMPROW>(out) : row[0];
        if (jpeg_read_scanlines(&job->Info, &target, 1) != 1)
            break;
        if (!direct)
            StoreRow(job->Info, row[0], out);
    }
    const bool complete = job->Info.output_scanline == job->Info.output_height;
    if (complete)
        jpeg_finish_decompress(&job->Info);
    const bool clean = complete && job->Err.Mgr.num_warnings == 0;
    jpeg_destroy_decompress(&job->Info);
    if (!clean)
        return {};
    return std::move(job->Image);
}

struct TEncodeJob
{
    TJpegError Err;
    jpeg_compress_struct Info;
    unsigned char* Buffer = nullptr;
    unsigned long Size = 0;
};

} // namespace

QImage LoadJpegImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A skin picture is a few kilobytes; anything that could not even hold MaxJpegPixels of
    // the smallest possible stream is not read into memory at all.
    if (file.size() <= 0 || file.size() > MaxJpegPixels)
        return {};
    return LoadJpegImageFromData(file.readAll());
}

QImage LoadJpegImageFromData(const QByteArray& data)
{
    if (data.isEmpty())
        return {};
    return Decode(reinterpret_cast<const unsigned char*>(data.constData()),
                  static_cast<unsigned long>(data.size()));
}

QByteArray EncodeJpegImage(const QImage& image, int quality)
{
    if (image.isNull())
        return {};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull())
        return {};

    const std::unique_ptr<TEncodeJob> job = std::make_unique<TEncodeJob>();
    InstallErrorManager(job->Err);
    job->Info.err = &job->Err.Mgr;

    if (setjmp(job->Err.Jump)) {
        jpeg_destroy_compress(&job->Info);
        std::free(job->Buffer);
        return {};
    }

    jpeg_create_compress(&job->Info);
    jpeg_mem_dest(&job->Info, &job->Buffer, &job->Size);
    job->Info.image_width = JDIMENSION(rgb.width());
    job->Info.image_height = JDIMENSION(rgb.height());
    job->Info.input_components = 3;
    job->Info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&job->Info);
    jpeg_set_quality(&job->Info, qBound(1, quality, 100), TRUE);
    // Full-resolution colour: thin coloured glyphs and the lit twins' edges stay sharp.
    for (int c = 0; c < job->Info.num_components; ++c) {
        job->Info.comp_info[c].h_samp_factor = 1;
        job->Info.comp_info[c].v_samp_factor = 1;
    }
    job->Info.optimize_coding = TRUE;
    job->Info.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&job->Info, TRUE);
    while (job->Info.next_scanline < job->Info.image_height) {
        // libjpeg only reads the row, but its prototype is not const.
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(job->Info.next_scanline)));
        jpeg_write_scanlines(&job->Info, &row, 1);
    }
    jpeg_finish_compress(&job->Info);
    QByteArray out(reinterpret_cast<const char*>(job->Buffer), qsizetype(job->Size));
    jpeg_destroy_compress(&job->Info);
    std::free(job->Buffer);
    return out;
}

bool SaveJpegImage(const QImage& image, const QString& path, int quality)
{
    const QByteArray bytes = EncodeJpegImage(image, quality);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
