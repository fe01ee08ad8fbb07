#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// JPEG pictures read and written with libjpeg directly, so the skin decodes the same way
// whichever image plug-ins the Qt installation carries.

// Pictures larger than this many pixels are refused before any memory is taken for them: a
// damaged or hostile header can claim up to 65500 x 65500.
inline constexpr qint64 MaxJpegPixels = 64LL * 1024 * 1024;

// Decodes a baseline or progressive JPEG (grey, colour or CMYK) into a Format_RGB32 image.
// Returns a null image for anything libjpeg rejects or has to patch up: a missing or empty file,
// a truncated or corrupt stream, a picture over MaxJpegPixels. Never aborts, never leaks.
QImage LoadJpegImage(const QString& path);
QImage LoadJpegImageFromData(const QByteArray& data);

// Encodes `image` (any format; alpha is dropped) at `quality` 1..100 with full-resolution
// colour and optimised Huffman tables, so the same image always gives the same bytes.
// Returns an empty array when the image is null or libjpeg fails.
QByteArray EncodeJpegImage(const QImage& image, int quality = 95);

// EncodeJpegImage written to `path` atomically; false (and the old file untouched) on failure.
bool SaveJpegImage(const QImage& image, const QString& path, int quality = 95);
