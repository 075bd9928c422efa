#pragma once

#include "conversion/ZNFNotesAppNote.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Keys of a note record in the notes export.
inline constexpr const char* ZNFNotesAppImporterKey_text = "text";
inline constexpr const char* ZNFNotesAppImporterKey_creationDate = "creationDate";
inline constexpr const char* ZNFNotesAppImporterKey_modificationDate = "modificationDate";
inline constexpr const char* ZNFNotesAppImporterKey_id = "id";
inline constexpr const char* ZNFNotesAppImporterKey_attachments = "attachments";
inline constexpr const char* ZNFNotesAppImporterKey_parentId = "parentId";
inline constexpr const char* ZNFNotesAppImporterKey_date = "date";
inline constexpr const char* ZNFNotesAppImporter_archiveName = "iOSNotes_to_Tessanote.notebackup";

// Archive path (empty when no archive was made), note count, attachment count.
using ZNFImporterCompletion = std::function<void(const QString& path, qint64 notes, qint64 attachments)>;

// Turns the Notes app's notes into a backup archive. Lives on the main thread.
class ZNFNotesAppImporter : public std::enable_shared_from_this<ZNFNotesAppImporter> {
public:
    virtual ~ZNFNotesAppImporter() = default;

    // Starts a run and returns at once; the completion is called on the main thread once
    // per run that is not cancelled.
    void import(ZNFImporterCompletion completion);
    void cancel() { m_isCancelled = true; }
    bool isImporting() const { return m_isImporting; }
    bool isCancelled() const { return m_isCancelled; }

    // Builds the archive from the delivered export and calls the completion.
    void processNotes(const std::optional<QJsonValue>& notes, const ZNFImporterCompletion& completion);
    QJsonObject tessanoteBackupForNotes(const std::vector<std::shared_ptr<ZNFNotesAppNote>>& notes,
                                        const QString& output);
    virtual QJsonArray processRawAttachments(const QJsonArray& rawAttachments, const QString& output);

    // Trims whitespace, newlines and U+FFFC at both ends, then "\n\n\n" -> "\n\n" in one pass.
    static QString cleanBody(const QString& body);

private:
    std::atomic<bool> m_isCancelled{false};
    bool m_isImporting = false;
};
