#include "conversion/ZNFNotesAppImporter.h"

#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFNotesExtractor.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFMainQueue.h"

void ZNFNotesAppImporter::import(ZNFImporterCompletion completion) {
    m_isCancelled = false;
    m_isImporting = true;
    std::weak_ptr<ZNFNotesAppImporter> weakSelf = weak_from_this();
    ZNFNotesExtractor extractor;
    extractor.getNotes(
        [weakSelf, completion = std::move(completion)](std::optional<QJsonValue> notes, QString) {
            // The extractor's error is not acted on: whatever came with it is processed.
            ZNFPostToMainQueue([weakSelf, completion, notes = std::move(notes)] {
                auto self = weakSelf.lock();
                if (!self || self->m_isCancelled)
                    return;
                self->processNotes(notes, completion);
                self->m_isImporting = false;
            });
        });
}

void ZNFNotesAppImporter::processNotes(const std::optional<QJsonValue>& notes,
                                       const ZNFImporterCompletion& completion) {
    std::vector<std::shared_ptr<ZNFNotesAppNote>> wrapped;
    qint64 delivered = 0;
    if (notes && notes->isArray()) {
        const QJsonArray records = notes->toArray();
        delivered = records.size();
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

    QString path;
    const QString staging = ZNFBackupArchive::createStagingFolder();
    if (!staging.isEmpty()) {
        const QJsonObject index = tessanoteBackupForNotes(wrapped, staging);
        path =
            ZNFBackupArchive::finish(staging, index.value(QLatin1String(ZNFBackupEntryKey_entries)).toArray(),
                                     QLatin1String(ZNFNotesAppImporter_archiveName));
    }
    if (completion)
        completion(path, delivered, 0);
}

QJsonObject
ZNFNotesAppImporter::tessanoteBackupForNotes(const std::vector<std::shared_ptr<ZNFNotesAppNote>>& notes,
                                             const QString& output) {
    static const std::pair<const char*, const char*> mapping[] = {
        {ZNFBackupEntryKey_body, ZNFNotesAppImporterKey_text},
        {ZNFBackupEntryKey_date, ZNFNotesAppImporterKey_creationDate},
        {ZNFBackupEntryKey_updatedDate, ZNFNotesAppImporterKey_modificationDate},
        {ZNFBackupEntryKey_identifier, ZNFNotesAppImporterKey_id},
    };
    QJsonArray entries;
    QJsonArray rawAttachments;
    for (const auto& note : notes) {
        if (!note || !note->importable())
            continue;
        const QJsonObject& record = note->dictionary();
        QJsonObject entry;
        entry.insert(QLatin1String(ZNFBackupEntryKey_kind), QLatin1String(ZNFBackupEntryKind_note));
        entry.insert(QLatin1String(ZNFBackupEntryKey_state), 0);
        for (const auto& [entryKey, recordKey] : mapping) {
            const auto it = record.constFind(QLatin1String(recordKey));
            if (it == record.constEnd() || it->isNull() || it->isUndefined())
                continue;
            if (qstrcmp(entryKey, ZNFBackupEntryKey_body) == 0 && it->isString())
                entry.insert(QLatin1String(entryKey), cleanBody(it->toString()));
            else
                entry.insert(QLatin1String(entryKey), *it);
        }
        const QJsonValue attachments = record.value(QLatin1String(ZNFNotesAppImporterKey_attachments));
        if (attachments.isArray())
            for (const QJsonValue& a : attachments.toArray())
                rawAttachments.append(a);
        entries.append(entry);
    }
    if (!rawAttachments.isEmpty())
        for (const QJsonValue& image : processRawAttachments(rawAttachments, output))
            entries.append(image);
    QJsonObject index;
    index.insert(QLatin1String(ZNFBackupEntryKey_entries), entries);
    return index;
}

QJsonArray ZNFNotesAppImporter::processRawAttachments(const QJsonArray&, const QString&) {
    return {};
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
