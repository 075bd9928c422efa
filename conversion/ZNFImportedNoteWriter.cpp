#include "conversion/ZNFImportedNoteWriter.h"

#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFHeifImage.h"
#include "conversion/ZNFJSONAdditions.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "platform/ZNFImage.h"
#include "platform/ZNFPaths.h"

#include <QBuffer>
#include <QImageReader>
#include <algorithm>
#include <memory>

ZNFImportedNoteWriter::ZNFImportedNoteWriter(QLatin1StringView archiveName, ZNFConversionOutcome& outcome,
                                             int threads)
    : m_outcome(outcome), m_archive(archiveName),
      m_pipeline(threads > 0 ? threads : ZNFPicturePipeline::defaultThreadCount()) {}

ZNFImportedNoteWriter::~ZNFImportedNoteWriter() = default;

QJsonObject ZNFImportedNoteWriter::noteEntry(const QString& identifier, const ZNFDate& created,
                                             const ZNFDate& updated) {
    QJsonObject entry;
    entry.insert(ZNFBackupEntryKey_kind, ZNFBackupEntryKind_note);
    entry.insert(ZNFBackupEntryKey_state, 0);
    entry.insert(ZNFBackupEntryKey_identifier, identifier);
    entry.insert(ZNFBackupEntryKey_date, epochJSONValue(epochRepresentation(created)));
    entry.insert(ZNFBackupEntryKey_updatedDate, epochJSONValue(epochRepresentation(updated)));
    return entry;
}

namespace {
struct Encoded {
    QByteArray png;
    QSizeF points;
};

// The places in a body of the pictures that could not be made: each of their U+FFFC gives way
// to the picture's name, so the pictures that were made keep their own places.
void nameLeftOutPictures(QString& body, const std::vector<size_t>& leftOut,
                         const std::vector<ZNFImportedPicture>& pictures) {
    QString named;
    size_t place = 0;
    qsizetype from = 0;
    for (qsizetype at = body.indexOf(QChar::ObjectReplacementCharacter); at >= 0;
         at = body.indexOf(QChar::ObjectReplacementCharacter, at + 1), ++place) {
        if (std::find(leftOut.begin(), leftOut.end(), place) == leftOut.end())
            continue;
        named += QStringView(body).sliced(from, at - from);
        named += ZNFLeftOut::placeholderLine(ZNFLeftOutReason::UnreadablePicture, pictures[place].name);
        from = at + 1;
    }
    if (from == 0)
        return;
    named += QStringView(body).sliced(from);
    body = std::move(named);
}

qint64 decodedCost(const QByteArray& bytes) {
    QSize pixels;
    if (ZNFHeifImage::isHeif(bytes)) {
        pixels = ZNFHeifImage::sizeOf(bytes);
    } else {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        pixels = QImageReader(&buffer).size();
    }
    return pixels.isValid() ? qint64(pixels.width()) * pixels.height() * 4 : 0;
}
} // namespace

void ZNFImportedNoteWriter::add(ZNFImportedNote note) {
    auto shared = std::make_shared<ZNFImportedNote>(std::move(note));
    const QJsonObject parent = noteEntry(shared->identifier, shared->created, shared->updated);
    auto images = std::make_shared<std::vector<QJsonObject>>();
    auto leftOut = std::make_shared<std::vector<size_t>>(); // the pictures that could not be made
    for (size_t i = 0; i < shared->pictures.size(); ++i) {
        const qint64 cost = decodedCost(shared->pictures[i].bytes);
        m_pipeline.submit(cost, [this, shared, parent, images, leftOut, i]() -> ZNFPicturePipeline::Delivery {
            ZNFImportedPicture& picture = shared->pictures[i];
            auto encoded = std::make_shared<Encoded>();
            const ZNFImage::Decoded decoded = ZNFHeifImage::decodePicture(picture.bytes);
            if (!decoded.isNull())
                *encoded = {ZNFImage::encodePNG(decoded.image), decoded.sizeInPoints()};
            picture.bytes = {}; // the encoded form is all that is kept
            return [this, shared, parent, images, leftOut, i, encoded] {
                const QString name = shared->pictures[i].name;
                if (encoded->png.isEmpty()) {
                    m_outcome.addLeftOut({ZNFLeftOutReason::UnreadablePicture, shared->title, name, {}});
                    leftOut->push_back(i);
                    return;
                }
                const QString binaryId = ZNFPaths::newUUIDString();
                // Two pictures of one note may share a name: the index tells them apart.
                const QString pictureName =
                    images->empty() ? name : QStringLiteral("%1_%2").arg(images->size()).arg(name);
                if (m_archive.addResource(binaryId, encoded->png))
                    images->push_back(
                        ZNFVesperNoteImporter::imageEntry(parent, pictureName, binaryId, encoded->points));
            };
        });
    }
    m_pipeline.submit(0, [this, shared, parent, images, leftOut]() -> ZNFPicturePipeline::Delivery {
        return [this, shared, parent, images, leftOut] {
            if (!m_archive.isOK())
                return;
            // The note's pictures were all delivered before it.
            if (!leftOut->empty())
                nameLeftOutPictures(shared->body, *leftOut, shared->pictures);
            m_archive.addEntry(parent, shared->body);
            ++m_outcome.notes;
            for (const QJsonObject& image : *images) {
                m_archive.addEntry(image);
                ++m_outcome.attachments;
            }
        };
    });
}

void ZNFImportedNoteWriter::finish(bool cancelled, const QString& emptyFailure) {
    if (cancelled) {
        m_pipeline.abandon();
        m_archive.abort();
        m_outcome = {};
        m_outcome.cancelled = true;
        m_outcome.failure = QStringLiteral("the conversion was cancelled");
        return;
    }
    m_pipeline.finish();
    m_outcome.path = m_archive.commit();
    if (m_outcome.path.isEmpty())
        m_outcome.failure = QStringLiteral("the archive could not be written: %1").arg(m_archive.failure());
    else if (m_outcome.notes == 0)
        m_outcome.failure = emptyFailure;
}
