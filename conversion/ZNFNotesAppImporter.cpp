#include "conversion/ZNFNotesAppImporter.h"

#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFNotesExtractor.h"
#include "conversion/ZNFNotesFolderReader.h"
#include "conversion/ZNFNotesStore.h"
#include "conversion/ZNFPicturePipeline.h"
#include "conversion/ZNFTemporaryFiles.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFMainQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonDocument>
#include <QPainter>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
#include <QTransform>

#include <cmath>
#include <limits>
#include <map>
#include <set>

namespace {
// The cancellation flag of the run being processed on this thread (none outside a run).
thread_local const std::atomic<bool>* tRunCancelled = nullptr;

// Runs are processed one after another, so a late run never renames its archive over a newer one.
QThreadPool& processingQueue() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}
} // namespace

void ZNFNotesAppImporter::import(ZNFImporterCompletion completion) {
    m_isCancelled = false;
    m_isImporting = true;
    // Each run has its own cancellation flag: a run cancelled by Back never completes, even
    // when its extractor delivers after a newer run has started.
    auto run = std::make_shared<std::atomic<bool>>(false);
    m_currentRunCancelled = run;
    std::weak_ptr<ZNFNotesAppImporter> weakSelf = weak_from_this();
    auto deliver = [weakSelf, run, completion = std::move(completion)](std::optional<QJsonValue> notes,
                                                                       QString) {
        // The extractor's error is not acted on: whatever came with it is processed. The work
        // runs off the main thread so the window stays responsive; the completion comes back
        // to the main thread.
        if (*run)
            return;
        processingQueue().start([weakSelf, run, completion, notes = std::move(notes)] {
            auto self = weakSelf.lock();
            if (!self || *run)
                return;
            QString path;
            qint64 count = 0;
            qint64 attachments = 0;
            // Cancel is also seen between notes and pictures: the run stops and leaves no files.
            tRunCancelled = run.get();
            const auto clear = qScopeGuard([] { tRunCancelled = nullptr; });
            self->processNotes(notes, [&](const QString& p, qint64 n, qint64 a) {
                path = p;
                count = n;
                attachments = a;
            });
            ZNFPostToMainQueue([weakSelf, run, completion, path, count, attachments] {
                auto self = weakSelf.lock();
                if (!self || *run)
                    return;
                self->m_isImporting = false;
                if (completion)
                    completion(path, count, attachments);
            });
        });
    };
    if (m_notesFolder.isEmpty())
        ZNFNotesExtractor().getNotes(std::move(deliver));
    else
        ZNFNotesFolderReader::getNotes(m_notesFolder, std::move(deliver));
}

bool ZNFNotesAppImporter::canRunExportScript() {
    return !QStandardPaths::findExecutable(QStringLiteral("osascript")).isEmpty();
}

void ZNFNotesAppImporter::cancel() {
    m_isCancelled = true;
    if (m_currentRunCancelled)
        *m_currentRunCancelled = true;
}

void ZNFNotesAppImporter::processNotes(const std::optional<QJsonValue>& notes,
                                       const ZNFImporterCompletion& completion) {
    std::vector<std::shared_ptr<ZNFNotesAppNote>> wrapped;
    if (notes && notes->isArray()) {
        const QJsonArray records = notes->toArray();
        wrapped.reserve(records.size());
        qsizetype index = 0;
        for (const QJsonValue& record : records) {
            if (record.isObject())
                wrapped.push_back(std::make_shared<ZNFNotesAppNote>(record.toObject()));
            else
                ZNFLogf("Notes importer: skipped element %@ of the export, it is not an object",
                        QString::number(index));
            ++index;
        }
    } else if (notes && !notes->isNull() && !notes->isUndefined()) {
        ZNFLog(QStringLiteral("Notes importer: the export is not an array of notes, no notes converted"));
    }

    ZNFTemporaryFiles::removeLeftovers();
    ZNFBackupArchiveWriter archive{QLatin1String(ZNFNotesAppImporter_archiveName)};
    const ZNFBackupCounts counts = tessanoteBackupForNotes(wrapped, archive);
    wrapped.clear();
    QString path;
    if (currentRunCancelled())
        archive.abort();
    else
        path = archive.commit();
    if (completion)
        completion(path, counts.notes, counts.attachments);
}

bool ZNFNotesAppImporter::currentRunCancelled() const {
    return tRunCancelled && tRunCancelled->load();
}

ZNFBackupCounts
ZNFNotesAppImporter::tessanoteBackupForNotes(const std::vector<std::shared_ptr<ZNFNotesAppNote>>& notes,
                                             ZNFBackupArchiveWriter& output) {
    static const std::pair<const char*, const char*> mapping[] = {
        {ZNFBackupEntryKey_date, ZNFNotesAppImporterKey_creationDate},
        {ZNFBackupEntryKey_updatedDate, ZNFNotesAppImporterKey_modificationDate},
        {ZNFBackupEntryKey_identifier, ZNFNotesAppImporterKey_id},
    };
    // Pictures go into the archive before the index, so they are found first.
    QJsonArray rawAttachments;
    for (const auto& note : notes) {
        if (!note || !note->importable())
            continue;
        const QJsonValue attachments =
            note->dictionary().value(QLatin1String(ZNFNotesAppImporterKey_attachments));
        if (attachments.isArray())
            for (const QJsonValue& a : attachments.toArray())
                rawAttachments.append(a);
    }
    const QJsonArray images =
        rawAttachments.isEmpty() ? QJsonArray() : processRawAttachments(rawAttachments, output);

    ZNFBackupCounts counts;
    for (const auto& note : notes) {
        if (!note || !note->importable() || currentRunCancelled())
            continue;
        const QJsonObject& record = note->dictionary();
        QJsonObject entry;
        entry.insert(QLatin1String(ZNFBackupEntryKey_kind), QLatin1String(ZNFBackupEntryKind_note));
        entry.insert(QLatin1String(ZNFBackupEntryKey_state), 0);
        for (const auto& [entryKey, recordKey] : mapping) {
            const auto it = record.constFind(QLatin1String(recordKey));
            if (it != record.constEnd() && !it->isNull() && !it->isUndefined())
                entry.insert(QLatin1String(entryKey), *it);
        }
        // The body is cleaned and escaped straight into the index; other types are copied.
        const auto text = record.constFind(QLatin1String(ZNFNotesAppImporterKey_text));
        if (text != record.constEnd() && text->isString())
            output.addEntry(entry, cleanBody(text->toString()));
        else {
            if (text != record.constEnd() && !text->isNull() && !text->isUndefined())
                entry.insert(QLatin1String(ZNFBackupEntryKey_body), *text);
            output.addEntry(entry);
        }
        ++counts.notes;
    }
    for (const QJsonValue& image : images) {
        output.addEntry(image.toObject());
        ++counts.attachments;
    }
    return counts;
}

namespace {

// One record that names a usable attachment, waiting for its image.
struct AttachmentJob {
    QString uuid;
    QString mediaPath; // empty for sketches and when "Media" has nothing
    bool isSketch = false;
    QJsonObject entry; // everything but "userInfo"
};

// The PNG to write and its size in points; no PNG when the record has no usable image.
struct AttachmentImage {
    QByteArray png;
    QSizeF size;
};

QByteArray readRegularFile(const QString& path) {
    // Never read a folder, a pipe or a device that happens to sit where a picture should be.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Thread-safe: only files, QImage and QPainter on a QImage.
AttachmentImage renderAttachment(const AttachmentJob& job, const QStringList& previews) {
    ZNFImage::Decoded image;
    if (!job.mediaPath.isEmpty())
        image = ZNFImage::decode(readRegularFile(job.mediaPath));
    if (image.isNull()) {
        const QString preview = ZNFNotesStore::largestAssetURLMatchingId(job.uuid, previews);
        if (!preview.isEmpty())
            image = ZNFImage::decode(readRegularFile(preview));
    }
    if (image.isNull())
        return {};
    const QSizeF size = image.sizeInPoints();
    if (!(size.width() > 0 && size.height() > 0))
        return {};
    if (job.isSketch)
        image = ZNFNotesAppImporter::imageByRotatingImage(image, 90);
    if (image.isNull())
        return {};
    return {ZNFImage::encodePNG(image.image), image.sizeInPoints()};
}

bool isPresent(const QJsonValue& value) {
    return !value.isNull() && !value.isUndefined();
}

// A JSON string literal, so that control characters in store data cannot break a log line.
QString quoted(const QString& text) {
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

} // namespace

int ZNFNotesAppImporter::defaultAttachmentThreadCount() {
    return ZNFPicturePipeline::defaultThreadCount();
}

qint64 ZNFNotesAppImporter::primaryKeyForAttachmentId(const QString& attachmentId) {
    // The last path component, as a path reads it: trailing slashes do not count.
    QStringView id(attachmentId);
    while (id.size() > 1 && id.endsWith(u'/'))
        id.chop(1);
    const QList<uint> component = id.mid(id.lastIndexOf(u'/') + 1).toUcs4();
    auto isLetter = [](uint c) { return QChar::isLetter(char32_t(c)) || QChar::isMark(char32_t(c)); };
    qsizetype begin = 0, end = component.size();
    while (begin < end && isLetter(component[begin]))
        ++begin;
    while (end > begin && isLetter(component[end - 1]))
        --end;
    // Read as an integer: leading blanks, an optional sign, then digits up to the first other
    // character; no digits read as 0, and values beyond the range stop at its ends.
    qsizetype i = begin;
    while (i < end && QChar::isSpace(char32_t(component[i])))
        ++i;
    bool negative = false;
    if (i < end && (component[i] == '-' || component[i] == '+'))
        negative = component[i++] == '-';
    qint64 value = 0;
    for (; i < end && component[i] >= '0' && component[i] <= '9'; ++i) {
        const int digit = int(component[i] - '0');
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

QJsonArray ZNFNotesAppImporter::processRawAttachments(const QJsonArray& rawAttachments,
                                                      ZNFBackupArchiveWriter& output) {
    const QString container = m_notesFolder.isEmpty() ? ZNFNotesStore::containerPath() : m_notesFolder;
    const std::optional<ZNFNotesStoreAttachmentMap> attachments =
        ZNFNotesStore::noteIdsByPrimaryKey(container);
    const QStringList previews = ZNFNotesStore::previewAssetURLs(container).value_or(QStringList());

    std::vector<AttachmentJob> jobs;
    qsizetype index = -1;
    for (const QJsonValue& value : rawAttachments) {
        ++index;
        const QJsonObject record = value.toObject();
        const QString attachmentId = record.value(QLatin1String(ZNFNotesAppImporterKey_id)).toString();
        const qint64 primaryKey = primaryKeyForAttachmentId(attachmentId);
        if (!attachments || primaryKey < std::numeric_limits<int>::min() ||
            primaryKey > std::numeric_limits<int>::max())
            continue;
        const auto found = attachments->find(int(primaryKey));
        if (found == attachments->end())
            continue;
        const ZNFNotesStoreAttachment& attachment = found->second;
        const QJsonValue parentId = record.value(QLatin1String(ZNFNotesAppImporterKey_parentId));
        const QJsonValue date = record.value(QLatin1String(ZNFNotesAppImporterKey_date));
        if (!isPresent(parentId) || !isPresent(date)) {
            ZNFLogf("Notes attachments: skipped attachment %@ (%@), it has no parentId or no date",
                    attachmentId, QString::number(index));
            continue;
        }
        if (!ZNFNotesStore::isUsableFileName(attachment.uuid)) {
            ZNFLogf("Notes attachments: skipped attachment %@, its store identifier %@ cannot name a file",
                    attachmentId, quoted(attachment.uuid));
            continue;
        }

        AttachmentJob job;
        job.uuid = attachment.uuid;
        job.isSketch = attachment.type.contains(QLatin1String(ZNFNotesStoreType_sketch));
        if (attachment.type.contains(QLatin1String("png")) || attachment.type.contains(QLatin1String("jpeg")))
            job.mediaPath = ZNFNotesStore::urlForOriginalMedia(attachment.uuid, container);
        QString identifier = attachmentId;
        identifier.remove(u'/').remove(u':');
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_parentId), parentId);
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_identifier), identifier);
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_date), date);
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_updatedDate), date);
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_kind), QLatin1String(ZNFBackupEntryKind_image));
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_binaryAttachmentId), attachment.uuid);
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_state), 0);
        jobs.push_back(std::move(job));
    }

    QJsonArray entries;
    // Pictures are written and entries appended here, in record order, whatever thread made the
    // PNG, so the archive does not depend on the number of threads. A picture that several
    // records name is written once.
    std::map<QString, std::optional<QSizeF>> written; // uuid -> its size, or none when unusable
    auto finishJob = [&](AttachmentJob& job, const AttachmentImage* image) {
        std::optional<QSizeF>& size = written[job.uuid];
        if (image) {
            if (image->png.isEmpty())
                ZNFLogf("Notes attachments: no usable image for %@", job.uuid);
            else if (output.addResource(job.uuid, image->png))
                size = image->size;
        }
        if (!size)
            return; // an entry without its picture would break the archive for the phone app
        job.entry.insert(QLatin1String(ZNFBackupEntryKey_userInfo), ZNFBackupArchive::userInfoForSize(*size));
        entries.append(job.entry);
    };

    ZNFPicturePipeline pipeline(m_attachmentThreads);
    std::set<QString> submitted;
    for (AttachmentJob& job : jobs) {
        if (currentRunCancelled()) {
            pipeline.abandon();
            return entries;
        }
        if (!submitted.insert(job.uuid).second) {
            pipeline.submit(0, [&job, &finishJob]() -> ZNFPicturePipeline::Delivery {
                return [&job, &finishJob] { finishJob(job, nullptr); };
            });
            continue;
        }
        const QSize pixels = job.mediaPath.isEmpty() ? QSize() : QImageReader(job.mediaPath).size();
        const qint64 cost = pixels.isValid() ? qint64(pixels.width()) * pixels.height() * 4 : 0;
        pipeline.submit(cost, [&job, &previews, &finishJob]() -> ZNFPicturePipeline::Delivery {
            auto image = std::make_shared<AttachmentImage>(renderAttachment(job, previews));
            return [&job, image, &finishJob] { finishJob(job, image.get()); };
        });
    }
    pipeline.finish();
    return entries;
}

ZNFImage::Decoded ZNFNotesAppImporter::imageByRotatingImage(const ZNFImage::Decoded& image, float degrees) {
    const float angle = std::fmod(degrees, 360.0f);
    if (angle == 0 || image.isNull())
        return image;
    const QImage& source = image.image;
    const ZNFImage::Resolution& resolution = image.resolution;
    ZNFImage::Decoded rotated;

    // Qt's y axis points down, so a counter-clockwise turn on a y-up canvas is a negative angle.
    const bool quarter = angle == 90 || angle == 270 || angle == -90 || angle == -270;
    if (quarter || angle == 180 || angle == -180) {
        // Right angles move whole pixels: nothing is resampled and nothing is lost.
        rotated.image = source.transformed(QTransform().rotate(-double(angle)));
        rotated.resolution = quarter ? ZNFImage::Resolution{resolution.y, resolution.x} : resolution;
        ZNFImage::setResolution(rotated.image, rotated.resolution);
        return rotated;
    }

    const QSizeF points = image.sizeInPoints();
    const double side = std::max(points.width(), points.height()) + 20;
    // Render at the finer of the source's two densities (pixels per point).
    const double density = std::max(source.width() / points.width(), source.height() / points.height());
    const int pixels = int(std::ceil(side * density - 1e-9));
    QImage canvas(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return {};
    canvas.fill(Qt::transparent);
    const double canvasDensity = pixels / side;
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.translate(pixels / 2.0, pixels / 2.0);
        painter.rotate(-double(angle));
        painter.scale(canvasDensity * points.width() / source.width(),
                      canvasDensity * points.height() / source.height());
        painter.drawImage(QPointF(-source.width() / 2.0, -source.height() / 2.0), source);
    }
    rotated.image = canvas;
    // A canvas of one pixel per point records no resolution, as a plain image would not.
    if (pixels != side) {
        const double dpi = pixels * 72.0 / side;
        rotated.resolution = {dpi, dpi};
    }
    ZNFImage::setResolution(rotated.image, rotated.resolution);
    return rotated;
}

QString ZNFNotesAppImporter::cleanBody(const QString& body) {
    auto trimmable = [](QChar c) { return c.isSpace() || c == QChar(0xFFFC); };
    qsizetype begin = 0;
    qsizetype end = body.size();
    while (begin < end && trimmable(body[begin]))
        ++begin;
    while (end > begin && trimmable(body[end - 1]))
        --end;
    QString cleaned = body.mid(begin, end - begin);
    // QString::replace scans left to right over non-overlapping matches and never rescans.
    cleaned.replace(QLatin1String("\n\n\n"), QLatin1String("\n\n"));
    return cleaned;
}
