#include "platform/ZNFImage.h"

#include "platform/ZNFLog.h"
#include "platform/ZNFPNGWriter.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <cmath>
#include <cstring>

namespace ZNFImage {

namespace {

constexpr double kMetresPerInch = 0.0254;
constexpr double kPointsPerInch = 72.0;

double usable(double dpi) {
    return std::isfinite(dpi) && dpi > 0 ? dpi : 0.0;
}

// Writers store whole dpi as the nearest dots per metre (144 dpi -> 5669); read such a value
// back as the whole dpi so that a 640-pixel image at "144 dpi" is 320 points, not 320.016.
double dpiFromDotsPerMetre(double dpm) {
    if (!(dpm > 0))
        return 0;
    const double dpi = dpm * kMetresPerInch;
    const double whole = std::round(dpi);
    if (whole > 0 && std::fabs(std::round(whole / kMetresPerInch) - dpm) < 0.5 + 1e-9)
        return whole;
    return dpi;
}

quint32 be32(const uchar* p) {
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}
quint16 be16(const uchar* p) {
    return quint16(p[0] << 8 | p[1]);
}

Resolution pngResolution(const QByteArray& data) {
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype size = data.size();
    qsizetype at = 8;
    while (at + 8 <= size) {
        const quint32 length = be32(bytes + at);
        const QByteArray type = data.mid(at + 4, 4);
        const qsizetype body = at + 8;
        if (type == "IDAT" || type == "IEND" || length > quint32(size - body))
            break; // pHYs must come before the image data
        if (type == "pHYs" && length >= 9) {
            if (bytes[body + 8] != 1) // unit 0 gives an aspect ratio only
                return {};
            return {usable(dpiFromDotsPerMetre(be32(bytes + body))),
                    usable(dpiFromDotsPerMetre(be32(bytes + body + 4)))};
        }
        at = body + qsizetype(length) + 4; // + CRC
    }
    return {};
}

// Reads the resolution tags of IFD0 in an EXIF block (starting at the TIFF header).
Resolution exifResolution(const uchar* tiff, qsizetype size) {
    if (size < 8)
        return {};
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return {};
    auto u16 = [&](qsizetype at) -> quint32 {
        return little ? quint32(tiff[at] | tiff[at + 1] << 8) : quint32(tiff[at] << 8 | tiff[at + 1]);
    };
    auto u32 = [&](qsizetype at) -> quint32 {
        return little ? quint32(tiff[at]) | quint32(tiff[at + 1]) << 8 | quint32(tiff[at + 2]) << 16 |
                            quint32(tiff[at + 3]) << 24
                      : be32(tiff + at);
    };
    if (u16(2) != 42)
        return {};
    const quint32 ifd = u32(4);
    if (ifd > quint64(size) - 2)
        return {};
    const quint32 count = u16(ifd);
    double x = 0, y = 0;
    quint32 unit = 2; // inches unless the file says otherwise
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype entry = qsizetype(ifd) + 2 + qsizetype(i) * 12;
        if (entry + 12 > size)
            break;
        const quint32 tag = u16(entry);
        const quint32 type = u16(entry + 2);
        if (tag == 0x0128 && type == 3) {
            unit = u16(entry + 8);
        } else if ((tag == 0x011A || tag == 0x011B) && type == 5) {
            const quint32 offset = u32(entry + 8);
            if (offset > quint64(size) - 8)
                continue;
            const quint32 numerator = u32(offset);
            const quint32 denominator = u32(offset + 4);
            const double value = denominator ? double(numerator) / denominator : 0.0;
            (tag == 0x011A ? x : y) = value;
        }
    }
    if (unit == 3)
        return {usable(x * 2.54), usable(y * 2.54)};
    if (unit == 2)
        return {usable(x), usable(y)};
    return {};
}

Resolution jpegResolution(const QByteArray& data) {
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype size = data.size();
    Resolution exif;
    qsizetype at = 2;
    while (at + 4 <= size) {
        if (bytes[at] != 0xFF)
            break;
        const uchar marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // start of scan, end of image
            break;
        const qsizetype length = be16(bytes + at + 2);
        const qsizetype body = at + 4;
        if (length < 2 || body + length - 2 > size)
            break;
        const qsizetype bodySize = length - 2;
        if (marker == 0xE0 && bodySize >= 12 && std::memcmp(bytes + body, "JFIF\0", 5) == 0) {
            const uchar units = bytes[body + 7];
            const double dx = be16(bytes + body + 8);
            const double dy = be16(bytes + body + 10);
            // Units 0 give an aspect ratio only; then EXIF may still say more.
            if (units == 1)
                return {usable(dx), usable(dy)};
            if (units == 2)
                return {usable(dx * 2.54), usable(dy * 2.54)};
        } else if (marker == 0xE1 && bodySize > 6 && std::memcmp(bytes + body, "Exif\0\0", 6) == 0 &&
                   !exif.isRecorded()) {
            exif = exifResolution(bytes + body + 6, bodySize - 6);
        }
        at = body + bodySize;
    }
    return exif;
}

// Qt refuses images above 128 MB by default; a 48-megapixel photo needs 186 MB. The limit is
// process-wide, so it is raised once, to what ZNFImage_maxDecodedPixels needs at 4 bytes a
// pixel, before the first reader is made.
void raiseAllocationLimit() {
    static const bool raised = [] {
        QImageReader::setAllocationLimit(int(ZNFImage_maxDecodedPixels * 4 / (1024 * 1024)) + 1);
        return true;
    }();
    Q_UNUSED(raised);
}

// Reads the image upright, with `recorded` (the file's own resolution) set on it, turned with
// the picture.
QImage read(QIODevice* device, Resolution& recorded) {
    raiseAllocationLimit();
    QImageReader reader(device);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > ZNFImage_maxDecodedPixels) {
        qCWarning(lcPlatform()).noquote()
            << QStringLiteral(
                   "Image: a picture of %1x%2 pixels is beyond the limit of %3 pixels, not decoded")
                   .arg(QString::number(size.width()), QString::number(size.height()),
                        QString::number(ZNFImage_maxDecodedPixels));
        return {};
    }
    // Each thread decodes into the pixels of its previous picture when that one is no longer
    // held and has the same size: a fresh 48 MB image per photo costs a page-fault storm.
    thread_local QImage reused;
    QImage& image = reused;
    if (!reader.read(&image)) {
        if (size.isValid())
            qCWarning(lcPlatform()).noquote()
                << QStringLiteral("Image: a picture of %1x%2 pixels could not be decoded: %3")
                       .arg(QString::number(size.width()), QString::number(size.height()),
                            reader.errorString());
        return {};
    }
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        std::swap(recorded.x, recorded.y);
    // Set while this thread's copy is the only one: a change to a shared image copies it.
    setResolution(image, recorded);
    return image;
}

} // namespace

QSizeF Decoded::sizeInPoints() const {
    return ZNFImage::sizeInPoints(image.size(), resolution);
}

Resolution recordedResolution(const QByteArray& data) {
    if (data.startsWith("\x89PNG\r\n\x1a\n"))
        return pngResolution(data);
    if (data.startsWith("\xFF\xD8"))
        return jpegResolution(data);
    return {};
}

QSizeF sizeInPoints(const QSize& pixels, const Resolution& resolution) {
    if (pixels.isEmpty())
        return {0, 0};
    auto points = [](int count, double dpi) {
        return dpi > 0 ? count * kPointsPerInch / dpi : double(count);
    };
    return {points(pixels.width(), resolution.x), points(pixels.height(), resolution.y)};
}

void setResolution(QImage& image, const Resolution& resolution) {
    auto dpm = [](double dpi) { return int(std::lround((dpi > 0 ? dpi : kPointsPerInch) / kMetresPerInch)); };
    const int x = dpm(resolution.x);
    const int y = dpm(resolution.y);
    if (image.dotsPerMeterX() != x)
        image.setDotsPerMeterX(x);
    if (image.dotsPerMeterY() != y)
        image.setDotsPerMeterY(y);
}

Decoded decode(const QByteArray& data) {
    Decoded decoded;
    if (data.isEmpty())
        return decoded;
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    Resolution resolution = recordedResolution(data);
    decoded.image = read(&buffer, resolution);
    if (!decoded.image.isNull())
        decoded.resolution = resolution;
    return decoded;
}

Decoded decodeFileWithResolution(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decode(file.readAll());
}

QImage decodeFile(const QString& path) {
    return decodeFileWithResolution(path).image;
}

QImage decodeData(const QByteArray& data) {
    return decode(data).image;
}

bool encodePNG(const QImage& image, QByteArray& out) {
    if (ZNFPNGWriter::encode(image, out))
        return true;
    out.resize(0);
    if (image.isNull())
        return false;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (writer.write(image))
        return true;
    out.resize(0);
    return false;
}

QByteArray encodePNG(const QImage& image) {
    QByteArray bytes;
    encodePNG(image, bytes);
    return bytes;
}

QByteArray encodeJPEG(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return bytes;
}

} // namespace ZNFImage
