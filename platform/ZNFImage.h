#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

// Image helpers the conversions and the image item share.
//
// Sizes are in points: pixels x 72 / the resolution the file itself records, or pixels when
// it records none. Qt cannot tell those two apart (it reports its own default, 96 dpi, for a
// file without a resolution), so the resolution is read from the file's header here:
//   - PNG: the "pHYs" chunk when its unit is the metre. A value that is the metre rounding of
//     a whole number of dots per inch (5669 for 144 dpi) counts as that whole number.
//   - JPEG: the JFIF density when its unit is the inch or the centimetre, else the EXIF
//     XResolution/YResolution with their ResolutionUnit (inch when absent).
//   - Any other format records none.
//
// Typical use:
//   const ZNFImage::Decoded decoded = ZNFImage::decode(bytes);
//   if (!decoded.isNull()) size = decoded.sizeInPoints();
// Pictures from outside are decoded up to this many pixels (a 48-megapixel phone photo is
// 8064x6048, a wide panorama a few hundred megapixels). Larger ones are refused with a log
// line before anything is allocated; Qt's own allocation limit is raised to match.
inline constexpr qint64 ZNFImage_maxDecodedPixels = 256LL * 1024 * 1024;

namespace ZNFImage {

// Dots per inch on each axis; 0 on an axis the file does not record.
struct Resolution {
    double x = 0;
    double y = 0;
    bool isRecorded() const { return x > 0 && y > 0; }
};

// The pixels of a file together with the resolution the file records.
struct Decoded {
    QImage image; // null when the bytes were not a readable image
    Resolution resolution;

    bool isNull() const { return image.isNull(); }
    QSizeF sizeInPoints() const;
};

// Decodes PNG, JPEG or any format Qt reads, turned upright as its EXIF orientation says (PNG
// cannot carry the orientation, so it is applied here; the resolution turns with it). The
// image's dots-per-metre are set to the recorded resolution (72 dpi when none), so a PNG
// written from it records the same size in points. Null beyond ZNFImage_maxDecodedPixels.
Decoded decode(const QByteArray& data);
Decoded decodeFileWithResolution(const QString& path);

// The resolution recorded in PNG or JPEG bytes, from the header alone (no pixel decoding).
// Missing, zero, negative or non-finite values count as not recorded.
Resolution recordedResolution(const QByteArray& data);

// pixels x 72 / dpi on each axis; pixels on an axis whose dpi is 0.
QSizeF sizeInPoints(const QSize& pixels, const Resolution& resolution);

// The pixels only (dots-per-metre set as decode() does).
QImage decodeFile(const QString& path);
QImage decodeData(const QByteArray& data);

// Sets the image's dots-per-metre to the resolution, 72 dpi on an axis that has none.
void setResolution(QImage& image, const Resolution& resolution);

// PNG through ZNFPNGWriter, or Qt's writer for what that does not cover (16-bit, palettes).
QByteArray encodePNG(const QImage& image);
// The same into `out`, reusing its capacity; false (and `out` empty) when nothing was written.
bool encodePNG(const QImage& image, QByteArray& out);
QByteArray encodeJPEG(const QImage& image, int quality = 90);
} // namespace ZNFImage
