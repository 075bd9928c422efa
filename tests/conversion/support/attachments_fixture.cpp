#include "attachments_fixture.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <sqlite3.h>

namespace AttachmentsFixture {

QString container() {
    return QDir::homePath() + "/Library/Group Containers/group.com.apple.notes";
}

bool createStore(const std::vector<AttachmentsStoreRow>& rows) {
    QDir().mkpath(container());
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(container() + "/NoteStore.sqlite").constData(), &db) != SQLITE_OK)
        return false;
    bool ok = sqlite3_exec(db,
                           "CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
                           "ZTITLE VARCHAR, ZTYPEUTI VARCHAR, ZIDENTIFIER VARCHAR, ZSIZE INTEGER)",
                           nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* insert = nullptr;
    ok = ok &&
         sqlite3_prepare_v2(db,
                            "INSERT INTO ZICCLOUDSYNCINGOBJECT (Z_PK, Z_ENT, ZTITLE, ZTYPEUTI, ZIDENTIFIER) "
                            "VALUES (?, 5, 'title', ?, ?)",
                            -1, &insert, nullptr) == SQLITE_OK;
    for (const auto& row : rows) {
        if (!ok)
            break;
        auto bindText = [&](int index, const std::optional<QString>& text) {
            if (!text)
                return sqlite3_bind_null(insert, index);
            const QByteArray utf8 = text->toUtf8();
            return sqlite3_bind_text(insert, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        };
        if (row.primaryKey)
            sqlite3_bind_int(insert, 1, *row.primaryKey);
        else
            sqlite3_bind_null(insert, 1);
        bindText(2, row.type);
        bindText(3, row.identifier);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return ok;
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

QByteArray png(const QImage& image, std::optional<int> dpi) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage copy = image;
    if (dpi) {
        copy.setDotsPerMeterX(qRound(*dpi / 0.0254));
        copy.setDotsPerMeterY(qRound(*dpi / 0.0254));
    }
    QImageWriter(&buffer, "png").write(copy);
    if (!dpi) {
        // Qt always writes pHYs: cut the chunk out so the file records no resolution.
        const qsizetype at = bytes.indexOf("pHYs");
        if (at >= 4)
            bytes.remove(at - 4, 4 + 4 + 9 + 4);
    }
    return bytes;
}

QByteArray jpeg(const QImage& image, std::optional<int> dpi) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage copy = image;
    copy.setDotsPerMeterX(qRound(dpi.value_or(72) / 0.0254));
    copy.setDotsPerMeterY(qRound(dpi.value_or(72) / 0.0254));
    QImageWriter(&buffer, "jpeg").write(copy);
    const qsizetype jfif = bytes.indexOf(QByteArray("JFIF\0", 5));
    if (!dpi && jfif > 0)
        bytes[jfif + 7] = 0; // density unit 0: an aspect ratio only
    return bytes;
}

QByteArray withOrientation(const QByteArray& jpeg, int orientation) {
    // Big-endian TIFF header, one IFD entry: Orientation (0x0112), SHORT, 1, value.
    QByteArray tiff = QByteArray::fromHex("4d4d002a00000008"
                                          "0001"
                                          "011200030000000100000000"
                                          "00000000");
    tiff[8 + 2 + 8] = char(orientation >> 8);
    tiff[8 + 2 + 9] = char(orientation & 0xff);
    const QByteArray app1 = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray out = jpeg;
    out.insert(2, QByteArray::fromHex("ffe1") + char((app1.size() + 2) >> 8) +
                      char((app1.size() + 2) & 0xff) + app1);
    return out;
}

QByteArray solidJPEG(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(40, 90, 160));
    return jpeg(image);
}

} // namespace AttachmentsFixture
