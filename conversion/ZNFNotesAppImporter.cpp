#include "conversion/ZNFNotesAppImporter.h"

#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFConversionJob.h"
#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFHeifImage.h"
#include "conversion/ZNFNotesExtractor.h"
#include "conversion/ZNFNotesFolderReader.h"
#include "conversion/ZNFNotesStore.h"
#include "conversion/ZNFPicturePipeline.h"
#include "conversion/ZNFTemporaryFiles.h"
#include "platform/ZNFMainQueue.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QJsonDocument>
#include <QPainter>
#include <QPointer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>
#include <QTransform>
#include <QUuid>

#include <cmath>
#include <limits>
#include <map>
#include <set>

using namespace Qt::StringLiterals;

ZNFNotesAppImporter::~ZNFNotesAppImporter() {
    // The last owner may be a run's own work, on the conversion thread; the job lives on the
    // main thread and is deleted there.
    if (m_job && QThread::currentThread() != m_job->thread()) {
        m_job->cancel();
        m_job.release()->deleteLater();
    }
}

void ZNFNotesAppImporter::import(ZNFImporterCompletion completion) {
    m_isCancelled = false;
    m_isImporting = true;
    std::weak_ptr<ZNFNotesAppImporter> weakSelf = weak_from_this();
    // What the export script delivered, set on the main thread before the job starts.
    struct Delivery {
        ZNFNotesExport notes;
        QString refused;
    };
    auto delivery = std::make_shared<Delivery>();
    // Each run is its own job: a run cancelled by Back never completes, even when its extractor
    // delivers after a newer run has started. A newer run supersedes the one before it.
    m_job = std::make_unique<ZNFConversionJob>(
        [weakSelf, delivery](const ZNFConversionProgressHandler&, const ZNFConversionCancelFlag& cancelled) {
            ZNFConversionOutcome outcome;
            auto self = weakSelf.lock();
            if (!self) {
                outcome.cancelled = true;
                return outcome;
            }
            // Cancel is also seen between notes and pictures: the run stops and leaves no files.
            self->m_runCancelled = cancelled;
            const auto clear = qScopeGuard([&self] { self->m_runCancelled.reset(); });
            const ZNFImporterCompletion done = [&outcome](const ZNFConversionOutcome& o) { outcome = o; };
            if (!self->m_notesFolder.isEmpty()) {
                const ZNFNotesFolderReading reading = self->processFolder(done);
                for (const QString& line : reading.leftOutLines())
                    qCWarning(lcConversion()).noquote() << QStringLiteral("Notes folder: %1").arg(line);
                if (!reading.failure.isEmpty())
                    qCWarning(lcConversion()).noquote()
                        << QStringLiteral("Notes folder: %1").arg(reading.failure);
            } else
                self->processRecords(
                    [&delivery](const ZNFNoteRecordTake& take, QString* failure) {
                        // An export refused unread (too large) is reported, not taken for none.
                        if (!delivery->notes && !delivery->refused.isEmpty())
                            *failure = delivery->refused;
                        else if (!delivery->notes ||
                                 ZNFNotesExtractor::readRecords(*delivery->notes, take, failure))
                            return true;
                        qCWarning(lcConversion()).noquote()
                            << QStringLiteral("Notes importer: the export is %1, no notes converted")
                                   .arg(*failure);
                        return false;
                    },
                    done);
            return outcome;
        });
    ZNFConversionJob* job = m_job.get();
    QObject::connect(job, &ZNFConversionJob::finished, job,
                     [weakSelf, completion = std::move(completion)](const ZNFConversionOutcome& outcome) {
                         auto self = weakSelf.lock();
                         if (!self)
                             return;
                         self->m_isImporting = false;
                         if (completion)
                             completion(outcome);
                     });
    if (!m_notesFolder.isEmpty()) {
        job->start();
        return;
    }
    ZNFNotesExtractor extractor;
    extractor.setCancelFlag(job->cancelFlag());
    extractor.getNotes(
        [job = QPointer<ZNFConversionJob>(job), delivery](ZNFNotesExport notes, QString error) {
            // A script's failure is not acted on: whatever export came with it is processed.
            if (!job || job->isCancelled())
                return;
            delivery->notes = std::move(notes);
            delivery->refused = std::move(error);
            job->start();
        });
}

bool ZNFNotesAppImporter::waitForCancelledRuns(int ms) {
    QDeadlineTimer deadline(ms);
    const bool scripts = ZNFNotesExtractor::waitForScripts(ms);
    return ZNFConversionJob::waitForRuns(int(deadline.remainingTime())) && scripts;
}

bool ZNFNotesAppImporter::canRunExportScript() {
    return !QStandardPaths::findExecutable(QStringLiteral("osascript")).isEmpty();
}

void ZNFNotesAppImporter::cancel() {
    m_isCancelled = true;
    if (m_job)
        m_job->cancel();
}

bool ZNFNotesAppImporter::currentRunCancelled() const {
    return m_runCancelled && m_runCancelled->load();
}

void ZNFNotesAppImporter::processNotes(const std::optional<QJsonValue>& notes,
                                       const ZNFImporterCompletion& completion) {
    processRecords(
        [&notes](const ZNFNoteRecordTake& take, QString*) {
            if (notes && notes->isArray()) {
                for (const QJsonValue& record : notes->toArray())
                    if (!take(record, std::nullopt))
                        break;
            } else if (notes && !notes->isNull() && !notes->isUndefined()) {
                qCWarning(lcConversion()).noquote() << QStringLiteral(
                    "Notes importer: the export is not an array of notes, no notes converted");
            }
            return true;
        },
        completion);
}

void ZNFNotesAppImporter::processRecords(const ZNFNoteRecordSource& source,
                                         const ZNFImporterCompletion& completion) {
    buildArchive(source, storeLookup(), true, completion);
}

ZNFNotesFolderReading ZNFNotesAppImporter::processFolder(const ZNFImporterCompletion& completion) {
    ZNFNotesFolderReading reading;
    QString copy; // the private copy of the store, while it is read
    const ZNFNoteRecordSource source = [&](const ZNFNoteRecordTake& take, QString* failure) {
        reading = ZNFNotesFolderReader::read(
            m_notesFolder,
            [&take](QJsonObject record, QString text) {
                return take(QJsonValue(std::move(record)), std::move(text));
            },
            {}, [&copy](const QString& database) { copy = database; });
        copy.clear();
        if (failure)
            *failure = reading.failure;
        return reading.failure.isEmpty();
    };
    // The attachments are looked up in the copy the notes come from: the store is copied once.
    buildArchive(
        source, [&copy] { return copy.isEmpty() ? std::nullopt : ZNFNotesStore::attachmentsInCopy(copy); },
        false,
        [&](ZNFConversionOutcome outcome) {
            const std::pair<qint64, ZNFLeftOutReason> leftOut[] = {
                {reading.deleted, ZNFLeftOutReason::DeletedNote},
                {reading.recentlyDeleted, ZNFLeftOutReason::RecentlyDeletedNote},
                {reading.locked, ZNFLeftOutReason::LockedNote},
                {reading.unreadable, ZNFLeftOutReason::UnreadableNote},
                {reading.overLimit, ZNFLeftOutReason::NoteOverLimit},
                {reading.attachmentsOverLimit, ZNFLeftOutReason::AttachmentOverLimit}};
            for (const auto& [count, reason] : leftOut)
                outcome.countLeftOut(reason, count);
            if (!reading.failure.isEmpty())
                outcome.failure = reading.failure;
            else if (outcome.path.isEmpty() && outcome.failure.isEmpty())
                outcome.failure = QStringLiteral("there is no note to convert in %1").arg(m_notesFolder);
            if (completion)
                completion(outcome);
        });
    return reading;
}

ZNFNotesAppImporter::AttachmentLookup ZNFNotesAppImporter::storeLookup() const {
    const QString container = m_notesFolder.isEmpty() ? ZNFNotesStore::containerPath() : m_notesFolder;
    return [container] { return ZNFNotesStore::noteIdsByPrimaryKey(container); };
}

void ZNFNotesAppImporter::writeNoteEntry(ZNFBackupArchiveWriter& output, QJsonObject record,
                                         std::optional<QString> text) {
    static constexpr std::pair<QLatin1StringView, QLatin1StringView> mapping[] = {
        {ZNFBackupEntryKey_date, ZNFNotesAppImporterKey_creationDate},
        {ZNFBackupEntryKey_updatedDate, ZNFNotesAppImporterKey_modificationDate},
        {ZNFBackupEntryKey_identifier, ZNFNotesAppImporterKey_id},
    };
    QJsonObject entry;
    entry.insert(ZNFBackupEntryKey_kind, ZNFBackupEntryKind_note);
    entry.insert(ZNFBackupEntryKey_state, 0);
    for (const auto& [entryKey, recordKey] : mapping) {
        const auto it = record.constFind(recordKey);
        if (it != record.constEnd() && !it->isNull() && !it->isUndefined())
            entry.insert(entryKey, *it);
    }
    QString body;
    bool isString = text.has_value();
    if (isString) {
        body = std::move(*text);
    } else {
        const QJsonValue value = record.value(ZNFNotesAppImporterKey_text);
        isString = value.isString();
        if (isString)
            body = value.toString();
        else if (!value.isNull() && !value.isUndefined())
            entry.insert(ZNFBackupEntryKey_body, value); // other types are copied
    }
    if (!isString) {
        output.addEntry(entry);
        return;
    }
    // The record goes before the body is cleaned (in place) and escaped straight into the
    // index: a long note is held as few times as can be.
    record = QJsonObject();
    output.addEntry(entry, cleanBody(std::move(body)));
}

namespace {

// One record that names a usable attachment, waiting for its image.
struct AttachmentJob {
    QString uuid;
    std::vector<ZNFNotesStorePictureFile> files; // tried in order; empty when none was found
    bool isSketch = false;
    bool isFile = false; // of a type that is no picture: only a preview of it can be carried
    QString name;        // what the outcome calls it when no picture comes of it
    QString note;
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
AttachmentImage renderAttachment(const AttachmentJob& job) {
    ZNFImage::Decoded image;
    bool fromPreview = false;
    for (const ZNFNotesStorePictureFile& file : job.files) {
        image = ZNFHeifImage::decodePicture(readRegularFile(file.path));
        const QSizeF size = image.sizeInPoints();
        if (!image.isNull() && size.width() > 0 && size.height() > 0) {
            fromPreview = file.isPreview;
            break;
        }
        image = {};
    }
    if (image.isNull())
        return {};
    // Only the old sketches' previews lie on their side.
    if (job.isSketch && fromPreview)
        image = ZNFNotesAppImporter::imageByRotatingImage(image, 90);
    if (image.isNull())
        return {};
    return {ZNFImage::encodePNG(image.image), image.sizeInPoints()};
}

// Why an attachment of a kind that never becomes a picture is left out; nullopt for the kinds
// that become pictures or text.
std::optional<ZNFLeftOutReason> leftOutReason(ZNFNotesStoreKind kind) {
    switch (kind) {
    case ZNFNotesStoreKind::PDF:
        return ZNFLeftOutReason::PDF;
    case ZNFNotesStoreKind::Audio:
        return ZNFLeftOutReason::Audio;
    case ZNFNotesStoreKind::Video:
        return ZNFLeftOutReason::Video;
    default:
        return std::nullopt;
    }
}

// What a note goes by in what the run reports: its first line of text, else its identifier.
QString noteName(const QJsonObject& record, const std::optional<QString>& text) {
    const QString body = text ? *text : record.value(ZNFNotesAppImporterKey_text).toString();
    for (QStringView line : QStringView(body).split(u'\n')) {
        QString name = line.toString().remove(QChar(0xFFFC)).trimmed();
        if (!name.isEmpty())
            return name.left(ZNFNotesAppImporter_maxNoteNameLength);
    }
    return record.value(ZNFNotesAppImporterKey_id).toString();
}

// The name an attachment goes by in what the run reports.
QString attachmentName(const ZNFNotesStoreAttachment& attachment) {
    if (!attachment.title.isEmpty())
        return attachment.title;
    return attachment.fileName.isEmpty() ? attachment.uuid : attachment.fileName;
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

class ZNFNotesAppImporter::Pictures {
public:
    Pictures(const ZNFNotesAppImporter& importer, ZNFBackupArchiveWriter& output, AttachmentLookup lookup,
             ZNFConversionOutcome& outcome)
        : m_importer(importer), m_output(output), m_lookup(std::move(lookup)), m_outcome(outcome),
          m_container(importer.m_notesFolder.isEmpty() ? ZNFNotesStore::containerPath()
                                                       : importer.m_notesFolder),
          m_pipeline(importer.m_attachmentThreads) {}

    // Starts on the pictures the records of `note` name; they reach the archive in record order.
    void add(const QJsonArray& rawAttachments, const QString& note = {});
    // Waits for the pictures (or drops them when the run is cancelled) and returns the image
    // entries, in record order.
    QJsonArray finish();

private:
    void addPicture(const ZNFNotesStoreAttachment& attachment, const QString& attachmentId,
                    const QJsonValue& parentId, const QJsonValue& date, const QString& note);
    void finishJob(AttachmentJob& job, const AttachmentImage* image);
    // The gallery's pages in the order its data lists them, then those it does not list (all of
    // them when the data cannot be read) in key order: a page is never lost to its data.
    std::vector<const ZNFNotesStoreAttachment*> pagesOf(const ZNFNotesStoreAttachment& gallery) const;

    const ZNFNotesAppImporter& m_importer;
    ZNFBackupArchiveWriter& m_output;
    AttachmentLookup m_lookup;
    ZNFConversionOutcome& m_outcome;
    const QString m_container; // the Notes folder whose files hold the images
    bool m_looked = false;     // the store and "Previews" are read at the first record
    std::optional<ZNFNotesStoreAttachmentMap> m_attachments;
    std::multimap<int, int> m_pages; // gallery -> its pages' keys
    QStringList m_previews;
    qsizetype m_index = -1;
    ZNFPicturePipeline m_pipeline;
    std::set<QString> m_submitted;
    std::map<QString, std::optional<QSizeF>> m_written; // uuid -> its size, or none when unusable
    QJsonArray m_entries;
    bool m_abandoned = false;
};

std::vector<const ZNFNotesStoreAttachment*>
ZNFNotesAppImporter::Pictures::pagesOf(const ZNFNotesStoreAttachment& gallery) const {
    std::vector<const ZNFNotesStoreAttachment*> pages;
    const auto [begin, end] = m_pages.equal_range(gallery.primaryKey);
    for (auto it = begin; it != end; ++it)
        pages.push_back(&m_attachments->at(it->second));
    if (pages.size() < 2)
        return pages;
    if (gallery.galleryData.isEmpty()) {
        qCInfo(lcConversion()).noquote()
            << QStringLiteral(
                   "Notes attachments: scan %1 has no list of pages; they come in the store's order")
                   .arg(quoted(gallery.uuid));
        return pages;
    }
    QString failure;
    const std::optional<QStringList> listed =
        ZNFNotesFolderReader::galleryPages(gallery.galleryData, &failure);
    if (!listed) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes attachments: the pages of scan %1 come in the store's order, %2")
                   .arg(quoted(gallery.uuid), failure);
        return pages;
    }
    QHash<QString, qsizetype> place;
    for (qsizetype i = 0; i < listed->size(); ++i)
        place.insert(listed->at(i), i);
    const qsizetype unlisted = std::numeric_limits<qsizetype>::max();
    std::vector<std::pair<qsizetype, const ZNFNotesStoreAttachment*>> placed;
    for (const ZNFNotesStoreAttachment* page : pages) {
        // The row's identifier and the data's UUID may differ in case and braces.
        const QUuid uuid = QUuid::fromString(page->uuid);
        const QString key =
            uuid.isNull() ? page->uuid.toUpper() : uuid.toString(QUuid::WithoutBraces).toUpper();
        placed.emplace_back(place.value(key, unlisted), page);
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < placed.size(); ++i)
        pages[i] = placed[i].second;
    return pages;
}

void ZNFNotesAppImporter::Pictures::add(const QJsonArray& rawAttachments, const QString& note) {
    if (!m_looked) {
        m_looked = true;
        m_attachments = m_lookup();
        m_previews = ZNFNotesStore::previewAssetURLs(m_container).value_or(QStringList());
        if (m_attachments)
            for (const auto& [key, attachment] : *m_attachments)
                if (attachment.parent != 0 && attachment.parent != key)
                    m_pages.emplace(attachment.parent, key);
    }
    for (const QJsonValue& value : rawAttachments) {
        ++m_index;
        if (m_abandoned)
            return;
        if (m_importer.currentRunCancelled()) {
            m_pipeline.abandon();
            m_abandoned = true;
            return;
        }
        const QJsonObject record = value.toObject();
        const QString attachmentId = record.value(ZNFNotesAppImporterKey_id).toString();
        const qint64 primaryKey = primaryKeyForAttachmentId(attachmentId);
        if (!m_attachments || primaryKey < std::numeric_limits<int>::min() ||
            primaryKey > std::numeric_limits<int>::max())
            continue;
        const auto found = m_attachments->find(int(primaryKey));
        if (found == m_attachments->end())
            continue;
        const ZNFNotesStoreAttachment& attachment = found->second;
        const ZNFNotesStoreKind kind = ZNFNotesStore::kindOf(attachment.type);
        // A gallery's page comes with its gallery, in the gallery's place.
        if (attachment.parent != 0 && m_attachments->count(attachment.parent) &&
            ZNFNotesStore::kindOf(m_attachments->at(attachment.parent).type) == ZNFNotesStoreKind::Gallery)
            continue;
        if (kind == ZNFNotesStoreKind::Text)
            continue;
        if (const std::optional<ZNFLeftOutReason> reason = leftOutReason(kind)) {
            m_outcome.addLeftOut({*reason, note, attachmentName(attachment), {}});
            continue;
        }
        const QJsonValue parentId = record.value(ZNFNotesAppImporterKey_parentId);
        const QJsonValue date = record.value(ZNFNotesAppImporterKey_date);
        if (!isPresent(parentId) || !isPresent(date)) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral(
                       "Notes attachments: skipped attachment %1 (%2), it has no parentId or no date")
                       .arg(attachmentId, QString::number(m_index));
            continue;
        }
        if (kind == ZNFNotesStoreKind::Gallery) {
            const std::vector<const ZNFNotesStoreAttachment*> pages = pagesOf(attachment);
            if (pages.empty())
                m_outcome.addLeftOut({ZNFLeftOutReason::UnreadableAttachment, note,
                                      attachmentName(attachment), QStringLiteral("the scan has no pages")});
            for (const ZNFNotesStoreAttachment* page : pages) {
                QString pageId = attachmentId;
                pageId.truncate(pageId.lastIndexOf(u'/') + 1);
                addPicture(*page, pageId + u'p' + QString::number(page->primaryKey), parentId, date, note);
            }
            continue;
        }
        addPicture(attachment, attachmentId, parentId, date, note);
    }
}

void ZNFNotesAppImporter::Pictures::addPicture(const ZNFNotesStoreAttachment& attachment,
                                               const QString& attachmentId, const QJsonValue& parentId,
                                               const QJsonValue& date, const QString& note) {
    if (!ZNFNotesStore::isUsableFileName(attachment.uuid)) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral(
                   "Notes attachments: skipped attachment %1, its store identifier %2 cannot name a file")
                   .arg(attachmentId, quoted(attachment.uuid));
        return;
    }
    auto job = std::make_shared<AttachmentJob>();
    job->uuid = attachment.uuid;
    job->isSketch = ZNFNotesStore::kindOf(attachment.type) == ZNFNotesStoreKind::Sketch;
    job->isFile = ZNFNotesStore::kindOf(attachment.type) == ZNFNotesStoreKind::File;
    job->name = attachmentName(attachment);
    job->note = note;
    QString identifier = attachmentId;
    identifier.remove(u'/').remove(u':');
    job->entry.insert(ZNFBackupEntryKey_parentId, parentId);
    job->entry.insert(ZNFBackupEntryKey_identifier, identifier);
    job->entry.insert(ZNFBackupEntryKey_date, date);
    job->entry.insert(ZNFBackupEntryKey_updatedDate, date);
    job->entry.insert(ZNFBackupEntryKey_kind, ZNFBackupEntryKind_image);
    job->entry.insert(ZNFBackupEntryKey_binaryAttachmentId, attachment.uuid);
    job->entry.insert(ZNFBackupEntryKey_state, 0);

    // A picture that several records name is made once.
    if (!m_submitted.insert(job->uuid).second) {
        m_pipeline.submit(0, [this, job]() -> ZNFPicturePipeline::Delivery {
            return [this, job] { finishJob(*job, nullptr); };
        });
        return;
    }
    job->files = ZNFNotesStore::pictureFiles(attachment, m_container, m_previews);
    QSize pixels;
    if (!job->files.empty()) {
        const QString& first = job->files.front().path;
        pixels = QImageReader(first).size();
        if (!pixels.isValid())
            pixels = ZNFHeifImage::sizeOfFile(first);
    }
    const qint64 cost = pixels.isValid() ? qint64(pixels.width()) * pixels.height() * 4 : 0;
    m_pipeline.submit(cost, [this, job]() -> ZNFPicturePipeline::Delivery {
        auto image = std::make_shared<AttachmentImage>(renderAttachment(*job));
        return [this, job, image] { finishJob(*job, image.get()); };
    });
}

void ZNFNotesAppImporter::Pictures::finishJob(AttachmentJob& job, const AttachmentImage* image) {
    // Pictures are written and entries appended here, in record order, whatever thread made
    // the PNG, so the archive does not depend on the number of threads.
    std::optional<QSizeF>& size = m_written[job.uuid];
    if (image) {
        if (image->png.isEmpty()) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Notes attachments: no usable image for %1").arg(job.uuid);
            m_outcome.addLeftOut(
                {job.files.empty() ? ZNFLeftOutReason::MissingPicture : ZNFLeftOutReason::UnreadablePicture,
                 job.note,
                 job.name,
                 {}});
        } else if (m_output.addResource(job.uuid, image->png))
            size = image->size;
    }
    if (!size)
        return; // an entry without its picture would break the archive for the phone app
    job.entry.insert(ZNFBackupEntryKey_userInfo, ZNFBackupArchive::userInfoForSize(*size));
    m_entries.append(job.entry);
}

QJsonArray ZNFNotesAppImporter::Pictures::finish() {
    if (m_importer.currentRunCancelled())
        m_abandoned = true;
    if (m_abandoned)
        m_pipeline.abandon();
    else
        m_pipeline.finish();
    return m_entries;
}

QJsonArray ZNFNotesAppImporter::processRawAttachments(const QJsonArray& rawAttachments,
                                                      ZNFBackupArchiveWriter& output) {
    ZNFConversionOutcome outcome;
    Pictures pictures(*this, output, storeLookup(), outcome);
    pictures.add(rawAttachments);
    return pictures.finish();
}

void ZNFNotesAppImporter::buildArchive(const ZNFNoteRecordSource& source, const AttachmentLookup& lookup,
                                       bool writeWhenEmpty, const ZNFImporterCompletion& completion) {
    ZNFTemporaryFiles::removeLeftovers();
    auto archive = std::make_unique<ZNFBackupArchiveWriter>(ZNFNotesAppImporter_archiveName);
    ZNFConversionOutcome outcome;
    QJsonArray images;
    QString failure;
    bool read = false;
    {
        std::optional<Pictures> pictures; // made at the first attachment record
        qint64 index = -1;
        read = source(
            [&](QJsonValue element, std::optional<QString> text) {
                ++index;
                if (currentRunCancelled() || !archive->isOK())
                    return false;
                if (!element.isObject()) {
                    qCWarning(lcConversion()).noquote()
                        << QStringLiteral(
                               "Notes importer: skipped element %1 of the export, it is not an object")
                               .arg(QString::number(index));
                    return true;
                }
                QJsonObject record = element.toObject();
                element = QJsonValue(); // the record holds the note alone
                const QJsonValue attachments = record.value(ZNFNotesAppImporterKey_attachments);
                if (attachments.isArray() && !attachments.toArray().isEmpty()) {
                    if (!pictures)
                        pictures.emplace(*this, *archive, lookup, outcome);
                    pictures->add(attachments.toArray(), noteName(record, text));
                }
                writeNoteEntry(*archive, std::move(record), std::move(text));
                ++outcome.notes;
                return true;
            },
            &failure);
        if (pictures)
            images = pictures->finish();
    }
    if (!read) {
        // A broken export converts nothing, as if there were none.
        archive->abort();
        outcome = {};
        outcome.failure = QStringLiteral("the notes export is %1").arg(failure);
        images = {};
        archive = std::make_unique<ZNFBackupArchiveWriter>(ZNFNotesAppImporter_archiveName);
    }
    for (const QJsonValue& image : std::as_const(images)) {
        archive->addEntry(image.toObject());
        ++outcome.attachments;
    }
    if (currentRunCancelled()) {
        archive->abort();
        outcome.cancelled = true;
        outcome.failure = QStringLiteral("the conversion was cancelled");
    } else if (outcome.notes == 0 && !writeWhenEmpty) {
        archive->abort();
    } else {
        outcome.path = archive->commit();
        if (outcome.path.isEmpty())
            outcome.failure = QStringLiteral("the archive could not be written: %1").arg(archive->failure());
        else if (outcome.notes == 0 && outcome.failure.isEmpty())
            outcome.failure = QStringLiteral("no notes were found");
    }
    if (completion)
        completion(outcome);
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

QString ZNFNotesAppImporter::cleanBody(QString body) {
    auto trimmable = [](QChar c) { return c.isSpace() || c == QChar(0xFFFC); };
    qsizetype begin = 0;
    qsizetype end = body.size();
    while (begin < end && trimmable(body[begin]))
        ++begin;
    while (end > begin && trimmable(body[end - 1]))
        --end;
    body.truncate(end);
    body.remove(0, begin);
    // "\n\n\n" -> "\n\n" left to right over non-overlapping runs, never rescanning, in place.
    QChar* text = body.data();
    const qsizetype size = body.size();
    qsizetype out = 0;
    for (qsizetype in = 0; in < size;) {
        if (in + 2 < size && text[in] == u'\n' && text[in + 1] == u'\n' && text[in + 2] == u'\n') {
            text[out++] = u'\n';
            text[out++] = u'\n';
            in += 3;
        } else {
            text[out++] = text[in++];
        }
    }
    body.truncate(out);
    return body;
}
