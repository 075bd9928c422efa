#include "attachments_fixture.h"
#include "notes_store_fixture.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QPainter>

#include <libheif/heif.h>

namespace AttachmentsFixture {

QString container() {
    return QDir::homePath() + "/Library/Group Containers/group.com.apple.notes";
}

bool createStore(const std::vector<AttachmentsStoreRow>& rows,
                 const std::vector<AttachmentsStoreRow>& inWriteAheadLog) {
    NotesStoreFixture::Store store;
    auto value = [](const auto& optional) { return optional ? QVariant(*optional) : QVariant(); };
    auto columns = [&](const AttachmentsStoreRow& row) {
        return NotesStoreFixture::Row{{"Z_PK", value(row.primaryKey)},
                                      {"Z_ENT", NotesStoreFixture::kAttachmentEntity},
                                      {"ZIDENTIFIER", value(row.identifier)},
                                      {"ZTYPEUTI", value(row.type)}};
    };
    for (const auto& row : rows)
        store.objects.push_back(columns(row));
    // Written as notes without data, whose columns the row's replace, for only notes can stay in the log.
    for (const auto& row : inWriteAheadLog)
        store.notes.push_back({row.primaryKey.value_or(0), QByteArray(), columns(row), true});
    return NotesStoreFixture::write(container(), store);
}

void writeMedia(const QString& uuid, const QString& name, const QByteArray& bytes) {
    writeFile(container() + "/Media/" + uuid + "/" + name, bytes);
}

void writePreview(const QString& name, const QByteArray& bytes) {
    writeFile(container() + "/Previews/" + name, bytes);
}

QImage cornerImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(0, 0, 4, 4, Qt::red);
    painter.fillRect(width - 4, 0, 4, 4, Qt::green);
    painter.fillRect(0, height - 4, 4, 4, Qt::blue);
    painter.fillRect(width - 4, height - 4, 4, 4, Qt::yellow);
    return image;
}

// The image's bytes in `format`, its header recording `dpi`.
static QByteArray encode(QImage image, const char* format, int dpi) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

QByteArray png(const QImage& image, std::optional<int> dpi) {
    QByteArray bytes = encode(image, "png", dpi.value_or(72));
    // Qt always writes pHYs: without a dpi, cut the chunk out so the file records no resolution.
    const qsizetype at = bytes.indexOf("pHYs");
    if (!dpi && at >= 4)
        bytes.remove(at - 4, 4 + 4 + 9 + 4);
    return bytes;
}

QByteArray jpeg(const QImage& image, std::optional<int> dpi) {
    QByteArray bytes = encode(image, "jpeg", dpi.value_or(72));
    const qsizetype jfif = bytes.indexOf(QByteArray("JFIF\0", 5));
    if (!dpi && jfif > 0)
        bytes[jfif + 7] = 0; // density unit 0: an aspect ratio only
    return bytes;
}

QByteArray withExif(const QByteArray& jpeg, const QByteArray& tiff) {
    const QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
    const int size = int(app1.size()) + 2;
    return QByteArray(jpeg).insert(2,
                                   QByteArray::fromHex("ffe1") + char(size >> 8) + char(size & 0xff) + app1);
}

QByteArray withOrientation(const QByteArray& jpeg, int orientation) {
    // Big-endian TIFF header, one IFD entry: Orientation (0x0112), SHORT, 1, value.
    QByteArray tiff = QByteArray::fromHex("4d4d002a000000080001011200030000000100000000"
                                          "00000000");
    tiff[8 + 2 + 8] = char(orientation >> 8);
    tiff[8 + 2 + 9] = char(orientation & 0xff);
    return withExif(jpeg, tiff);
}

QByteArray solidJPEG(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(40, 90, 160));
    return jpeg(image);
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

QByteArray heic(const QImage& image, int orientation) {
    heif_init(nullptr);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    heif_context* context = heif_context_alloc();
    heif_image* picture = nullptr;
    heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture);
    heif_image_add_plane(picture, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    QByteArray bytes;
    if (encoder) {
        heif_encoder_set_lossy_quality(encoder, 95);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->image_orientation = heif_orientation(orientation);
        heif_context_encode_image(context, picture, encoder, options, nullptr);
        heif_encoding_options_free(options);
        heif_encoder_release(encoder);
        heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                               static_cast<QByteArray*>(out)->append(static_cast<const char*>(data),
                                                                     qsizetype(size));
                               return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                           }};
        heif_context_write(context, &writer, &bytes);
    }
    heif_image_release(picture);
    heif_context_free(context);
    return bytes;
}

} // namespace AttachmentsFixture
