#pragma once

// A Notes app group container built by a test under its own HOME: a small SQLite store,
// "Media/<uuid>/..." files and a "Previews" folder of generated images.
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <optional>
#include <vector>

struct AttachmentsStoreRow {
    std::optional<int> primaryKey;
    std::optional<QString> identifier;
    std::optional<QString> type;
};

namespace AttachmentsFixture {

QString container(); // under the current HOME
// Writes the container's store (NotesStoreFixture) with `rows` as its attachment rows, and
// `inWriteAheadLog` as rows only its -wal file holds, as while the Notes app has the store open.
bool createStore(const std::vector<AttachmentsStoreRow>& rows,
                 const std::vector<AttachmentsStoreRow>& inWriteAheadLog = {});
void writeMedia(const QString& uuid, const QString& name, const QByteArray& bytes);
void writePreview(const QString& name, const QByteArray& bytes);

// An image with red, green, blue and yellow corners (top-left, top-right, bottom-left,
// bottom-right, 4x4 pixels each) on white.
QImage cornerImage(int width, int height);
// PNG bytes; with dpi the file records it (pHYs), without it records none.
QByteArray png(const QImage& image, std::optional<int> dpi = std::nullopt);
// JPEG bytes whose JFIF header records `dpi`, or no resolution at all when it is empty.
QByteArray jpeg(const QImage& image, std::optional<int> dpi = std::nullopt);

// JPEG bytes with an EXIF block (APP1) holding `tiff`.
QByteArray withExif(const QByteArray& jpeg, const QByteArray& tiff);
// JPEG bytes with an EXIF block whose orientation tag says `orientation` (6: the camera was
// turned, the picture must turn 90 degrees clockwise to stand upright).
QByteArray withOrientation(const QByteArray& jpeg, int orientation);
// The image in any format Qt writes ("tiff", "webp").
QByteArray encoded(const QImage& image, const char* format);
// HEIC bytes as an iPhone writes them; `orientation` (EXIF numbering) becomes the file's
// rotation boxes, the picture itself stays as given.
QByteArray heic(const QImage& image, int orientation = 1);
// A solid JPEG of the given size: cheap to make, yet it decodes to width x height x 4 bytes.
QByteArray solidJPEG(int width, int height);

} // namespace AttachmentsFixture
