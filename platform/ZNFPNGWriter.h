#pragma once

#include <QByteArray>
#include <QImage>

// A PNG writer on libdeflate for the pictures the conversions write: 8-bit grey, RGB or RGBA,
// one filter chosen per row (the smallest sum of absolute differences), a zlib stream at
// level 6, and pHYs and iCCP chunks for the resolution and colour space the image carries.
// It is several times faster than Qt's writer at the same level.
//
// Each thread keeps its compressor and its row and filter buffers and reuses them for the
// next picture: a fresh allocation of tens of megabytes per picture costs a storm of page
// faults. Thread-safe.
namespace ZNFPNGWriter {

// Whether encode() writes the image itself. It does not for palette, 1-bit and 16-bit
// images, nor for a colour space it cannot carry as an ICC profile: ZNFImage::encodePNG
// hands those to Qt's writer.
bool covers(const QImage& image);

// Replaces `out` with the PNG bytes (its capacity is kept, so a caller can reuse one array).
// False, with `out` empty, when the image is not covered or anything failed.
bool encode(const QImage& image, QByteArray& out);

} // namespace ZNFPNGWriter
