#pragma once

#include "platform/ZNFImage.h"

#include <QByteArray>
#include <QSize>
#include <QString>

// HEIC and HEIF pictures (what the iPhone camera writes since iOS 11), through libheif. The
// picture comes upright: libheif applies the file's rotation and mirror boxes, which HEIF
// uses in place of the EXIF orientation. Any thread; each call has a context of its own.
namespace ZNFHeifImage {

// Whether the bytes are a HEIF file libheif can read (its "ftyp" box says so).
bool isHeif(const QByteArray& data);
// The primary picture; null when it cannot be read or has more than ZNFImage_maxDecodedPixels.
// HEIF records no resolution: the picture is one point a pixel.
ZNFImage::Decoded decode(const QByteArray& data);
// The primary picture's size, from the file's boxes alone; invalid when it is no HEIF file.
QSize sizeOfFile(const QString& path);
QSize sizeOf(const QByteArray& data);
// Any picture a source hands over: HEIF through libheif, every other format through Qt.
ZNFImage::Decoded decodePicture(const QByteArray& data);

} // namespace ZNFHeifImage
