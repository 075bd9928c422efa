#pragma once

#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>

// Image helpers the conversions share. Sizes are in points: pixels x 72 / the resolution
// the file records, or pixels when it records none.
namespace ZNFImage {
QImage decodeFile(const QString& path);
QImage decodeData(const QByteArray& data);
QSizeF sizeInPoints(const QImage& image);
QByteArray encodePNG(const QImage& image);
QByteArray encodeJPEG(const QImage& image, int quality = 90);
// Writes PNG bytes to a file (not atomically); false when anything failed.
bool writePNG(const QImage& image, const QString& path);
} // namespace ZNFImage
