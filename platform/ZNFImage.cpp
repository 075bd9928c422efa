#include "platform/ZNFImage.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>

#include <cmath>

namespace ZNFImage {

QImage decodeFile(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.read();
}

QImage decodeData(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    return reader.read();
}

QSizeF sizeInPoints(const QImage& image) {
    if (image.isNull())
        return {0, 0};
    const double dpmX = image.dotsPerMeterX();
    const double dpmY = image.dotsPerMeterY();
    const double dpiX = dpmX * 0.0254;
    const double dpiY = dpmY * 0.0254;
    auto points = [](int pixels, double dpi) {
        if (dpi <= 1.0)
            return double(pixels);
        // Files written at 72 dpi round-trip through dots-per-metre with a small error.
        double p = pixels * 72.0 / dpi;
        double rounded = std::round(p * 1000.0) / 1000.0;
        return rounded;
    };
    return {points(image.width(), dpiX), points(image.height(), dpiY)};
}

QByteArray encodePNG(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return {};
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

bool writePNG(const QImage& image, const QString& path) {
    const QByteArray bytes = encodePNG(image);
    if (bytes.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

} // namespace ZNFImage
