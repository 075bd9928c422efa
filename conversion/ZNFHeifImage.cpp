#include "conversion/ZNFHeifImage.h"

#include "conversion/ZNFConversionLog.h"

#include <QFile>

#include <libheif/heif.h>

#include <memory>

namespace ZNFHeifImage {

namespace {

void initialize() {
    // Reference-counted in libheif and kept for the life of the process.
    static const bool initialized = [] {
        heif_init(nullptr);
        return true;
    }();
    Q_UNUSED(initialized);
}

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleFree {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;

Handle primaryImage(heif_context* context, heif_error read) {
    heif_image_handle* handle = nullptr;
    if (read.code == heif_error_Ok)
        read = heif_context_get_primary_image_handle(context, &handle);
    if (read.code != heif_error_Ok) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("HEIF picture: could not be read: %1").arg(QString::fromUtf8(read.message));
        return nullptr;
    }
    return Handle(handle);
}

} // namespace

bool isHeif(const QByteArray& data) {
    if (data.size() < 12)
        return false;
    return heif_check_filetype(reinterpret_cast<const uint8_t*>(data.constData()),
                               int(qMin<qsizetype>(data.size(), 64))) == heif_filetype_yes_supported;
}

ZNFImage::Decoded decode(const QByteArray& data) {
    initialize();
    ZNFImage::Decoded decoded;
    Context context(heif_context_alloc());
    if (!context)
        return decoded;
    const Handle handle =
        primaryImage(context.get(), heif_context_read_from_memory_without_copy(
                                        context.get(), data.constData(), size_t(data.size()), nullptr));
    if (!handle)
        return decoded;
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width <= 0 || height <= 0 || qint64(width) * height > ZNFImage_maxDecodedPixels) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("HEIF picture: %1x%2 pixels is beyond the limit of %3 pixels, not decoded")
                   .arg(QString::number(width), QString::number(height),
                        QString::number(ZNFImage_maxDecodedPixels));
        return decoded;
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    heif_image* image = nullptr;
    const heif_error decodedError =
        heif_decode_image(handle.get(), &image, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
    if (decodedError.code != heif_error_Ok || !image) {
        qCWarning(lcConversion()).noquote() << QStringLiteral("HEIF picture: could not be decoded: %1")
                                                   .arg(QString::fromUtf8(decodedError.message));
        heif_image_release(image);
        return decoded;
    }
    int stride = 0;
    uint8_t* pixels = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int planeWidth = heif_image_get_width(image, heif_channel_interleaved);
    const int planeHeight = heif_image_get_height(image, heif_channel_interleaved);
    if (!pixels || planeWidth <= 0 || planeHeight <= 0) {
        heif_image_release(image);
        return decoded;
    }
    // The QImage owns libheif's pixels: a 12-megapixel photo is held once, not copied.
    decoded.image = QImage(
        pixels, planeWidth, planeHeight, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
        [](void* owned) { heif_image_release(static_cast<heif_image*>(owned)); }, image);
    ZNFImage::setResolution(decoded.image, decoded.resolution);
    return decoded;
}

QSize sizeOf(const QByteArray& data) {
    initialize();
    Context context(heif_context_alloc());
    if (!context)
        return {};
    const Handle handle =
        primaryImage(context.get(), heif_context_read_from_memory_without_copy(
                                        context.get(), data.constData(), size_t(data.size()), nullptr));
    if (!handle)
        return {};
    return {heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get())};
}

ZNFImage::Decoded decodePicture(const QByteArray& data) {
    return isHeif(data) ? decode(data) : ZNFImage::decode(data);
}

QSize sizeOfFile(const QString& path) {
    initialize();
    Context context(heif_context_alloc());
    if (!context)
        return {};
    const Handle handle = primaryImage(
        context.get(),
        heif_context_read_from_file(context.get(), QFile::encodeName(path).constData(), nullptr));
    if (!handle)
        return {};
    return {heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get())};
}

} // namespace ZNFHeifImage
