// JPEG decoding and encoding with libjpeg: good pictures in every colour space, and damaged,
// truncated or hostile ones refused without a crash or a leak.
#include "platform/jpeg/Jpeg.h"

#include "support/Tools.h"

#include <QFile>
#include <QTemporaryDir>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <jpeglib.h>

namespace {

// A picture with smooth gradients and hard edges, the two things JPEG treats differently.
QImage TestPicture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x / 8 + y / 8) % 2 ? 200 : 40));
    return img;
}

int MaxChannelDifference(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

// Writes a JPEG straight through libjpeg in a colour space our encoder does not produce.
QByteArray EncodeRaw(int w, int h, int components, J_COLOR_SPACE space, bool adobe,
                     unsigned char (*sample)(int x, int y, int c))
{
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(w);
    info.image_height = JDIMENSION(h);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    info.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(size_t(w * components));
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < components; ++c)
                row[size_t(x * components + c)] = sample(x, int(info.next_scanline), c);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&info, &r, 1);
    }
    jpeg_finish_compress(&info);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

} // namespace

TEST(Jpeg, RoundTripKeepsSizeAndColours)
{
    const QImage original = TestPicture(83, 61); // not a multiple of the 8-pixel blocks
    const QByteArray bytes = EncodeJpegImage(original, 95);
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(bytes.startsWith("\xFF\xD8"));
    const QImage decoded = LoadJpegImageFromData(bytes);
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.size(), original.size());
    EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
    EXPECT_LE(MaxChannelDifference(original, decoded), 40); // the hard edges ring a little
    // Opaque: the window paints these pictures without blending.
    EXPECT_EQ(qAlpha(decoded.pixel(10, 10)), 255);
}

TEST(Jpeg, EncodingIsReproducibleAndDropsAlpha)
{
    QImage translucent = TestPicture(40, 30).convertToFormat(QImage::Format_ARGB32);
    translucent.setPixel(0, 0, qRgba(255, 0, 0, 0));
    const QByteArray a = EncodeJpegImage(translucent, 90);
    EXPECT_EQ(a, EncodeJpegImage(translucent, 90));
    EXPECT_FALSE(LoadJpegImageFromData(a).isNull());
    EXPECT_TRUE(EncodeJpegImage(QImage(), 90).isEmpty());
}

TEST(Jpeg, DecodesGreyAndCmykPictures)
{
    const QByteArray grey = EncodeRaw(16, 16, 1, JCS_GRAYSCALE, false,
                                      [](int x, int, int) { return (unsigned char)(x * 16); });
    const QImage g = LoadJpegImageFromData(grey);
    ASSERT_FALSE(g.isNull());
    EXPECT_NEAR(qRed(g.pixel(15, 8)), 240, 6);
    EXPECT_EQ(qRed(g.pixel(15, 8)), qBlue(g.pixel(15, 8)));

    // Adobe stores CMYK inverted: 255 means no ink. Cyan ink only gives a cyan picture.
    const QByteArray cmyk = EncodeRaw(16, 16, 4, JCS_CMYK, true, [](int, int, int c) {
        return (unsigned char)(c == 0 ? 0 : 255);
    });
    const QImage c = LoadJpegImageFromData(cmyk);
    ASSERT_FALSE(c.isNull());
    EXPECT_LT(qRed(c.pixel(8, 8)), 20);
    EXPECT_GT(qGreen(c.pixel(8, 8)), 235);
    EXPECT_GT(qBlue(c.pixel(8, 8)), 235);
}

TEST(Jpeg, RefusesMissingEmptyAndForeignFiles)
{
    QTemporaryDir dir;
    EXPECT_TRUE(LoadJpegImage(dir.filePath(QStringLiteral("absent.jpg"))).isNull());
    EXPECT_TRUE(LoadJpegImage(dir.path()).isNull()); // a folder
    QFile empty(dir.filePath(QStringLiteral("empty.jpg")));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_TRUE(LoadJpegImage(empty.fileName()).isNull());
    EXPECT_TRUE(LoadJpegImageFromData(QByteArray()).isNull());
    EXPECT_TRUE(LoadJpegImageFromData(QByteArray("\x89PNG\r\n\x1a\n not a jpeg")).isNull());
}

TEST(Jpeg, EveryTruncationIsRefused)
{
    const QByteArray bytes = EncodeJpegImage(TestPicture(48, 32), 80);
    ASSERT_GT(bytes.size(), 200);
    // libjpeg would pad a short stream with grey and call it a picture; a button half grey is
    // worse than none, so every proper prefix must come back null.
    for (qsizetype n = 0; n < bytes.size() - 2; ++n)
        ASSERT_TRUE(LoadJpegImageFromData(bytes.left(n)).isNull()) << "prefix of " << n;
}

TEST(Jpeg, CorruptStreamsNeverCrash)
{
    const QByteArray bytes = EncodeJpegImage(TestPicture(64, 48), 85);
    quint32 state = 12345;
    int refused = 0;
    for (int round = 0; round < 400; ++round) {
        QByteArray damaged = bytes;
        for (int k = 0; k < 1 + round % 6; ++k) {
            state = state * 1103515245u + 12345u;
            const qsizetype at = qsizetype(state % quint32(damaged.size()));
            damaged[at] = char(damaged[at] ^ char(1 << (state >> 28) % 8));
        }
        const QImage img = LoadJpegImageFromData(damaged);
        if (img.isNull())
            ++refused;
        else
            EXPECT_EQ(img.size(), QSize(64, 48)); // a surviving picture is whole
    }
    EXPECT_GT(refused, 0);
}

TEST(Jpeg, RefusesAbsurdDimensionsBeforeAllocating)
{
    QByteArray bytes = EncodeJpegImage(TestPicture(16, 16), 80);
    // Rewrite the frame header to claim 65500 x 65500 pixels (about 16 GB as RGB32).
    const qsizetype sof = bytes.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    bytes[sof + 5] = char(0xFF);
    bytes[sof + 6] = char(0xDC);
    bytes[sof + 7] = char(0xFF);
    bytes[sof + 8] = char(0xDC);
    EXPECT_TRUE(LoadJpegImageFromData(bytes).isNull());
}

TEST(Jpeg, SaveIsAtomicAndReportsFailure)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pic.jpg"));
    ASSERT_TRUE(SaveJpegImage(TestPicture(20, 20), path, 90));
    EXPECT_EQ(LoadJpegImage(path).size(), QSize(20, 20));
    EXPECT_FALSE(SaveJpegImage(TestPicture(20, 20),
                               dir.filePath(QStringLiteral("no/such/folder/pic.jpg")), 90));
    EXPECT_FALSE(SaveJpegImage(QImage(), path, 90));
    EXPECT_EQ(LoadJpegImage(path).size(), QSize(20, 20)); // the old file is untouched
}

TEST(Jpeg, DecodesLikeAnIndependentReader)
{
    if (!HaveTool(QStringLiteral("stream")))
        GTEST_SKIP() << "ImageMagick's stream is not installed";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pic.jpg"));
    const QImage original = TestPicture(50, 40);
    ASSERT_TRUE(SaveJpegImage(original, path, 92));
    const TToolResult raw =
        RunTool(QStringLiteral("stream"),
                {QStringLiteral("-map"), QStringLiteral("rgb"), QStringLiteral("-storage-type"),
                 QStringLiteral("char"), path, QStringLiteral("-")});
    ASSERT_EQ(raw.ExitCode, 0) << raw.Err.constData();
    ASSERT_EQ(raw.Out.size(), 50 * 40 * 3);
    const QImage ours = LoadJpegImage(path);
    ASSERT_EQ(ours.size(), QSize(50, 40));
    int worst = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) {
            const auto* p =
                reinterpret_cast<const unsigned char*>(raw.Out.constData()) + (y * 50 + x) * 3;
            const QRgb q = ours.pixel(x, y);
            worst = std::max({worst, std::abs(p[0] - qRed(q)), std::abs(p[1] - qGreen(q)),
                              std::abs(p[2] - qBlue(q))});
        }
    EXPECT_LE(worst, 3); // only the IDCT's rounding may differ
}
