#pragma once

#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFConversionJob.h"
#include "conversion/ZNFConversionOutcome.h"
#include "conversion/ZNFNotesAppNote.h"
#include "conversion/ZNFNotesFolderReader.h"
#include "conversion/ZNFNotesStore.h"
#include "platform/ZNFImage.h"

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
inline constexpr QLatin1StringView ZNFNotesAppImporterKey_text{"text"};
inline constexpr QLatin1StringView ZNFNotesAppImporterKey_creationDate{"creationDate"};
inline constexpr QLatin1StringView ZNFNotesAppImporterKey_modificationDate{"modificationDate"};
inline constexpr QLatin1StringView ZNFNotesAppImporterKey_id{"id"};
inline constexpr QLatin1StringView ZNFNotesAppImporterKey_attachments{"attachments"};
inline constexpr QLatin1StringView ZNFNotesAppImporterKey_parentId{"parentId"};
inline constexpr QLatin1StringView ZNFNotesAppImporterKey_date{"date"};
// What is reported as left out names its note by at most this many characters of its first line.
inline constexpr qsizetype ZNFNotesAppImporter_maxNoteNameLength = 80;
inline constexpr QLatin1StringView ZNFNotesAppImporter_archiveName{"iOSNotes_to_Tessanote.notebackup"};

// Hands note records over one at a time: calls `take` once per element of the notes export, in
// order (an object is a note record; anything else is skipped), and stops early when `take`
// returns false. `text`, when given, is the record's "text", handed over apart so that a long
// note is not held twice. False, with the reason in `failure`, when the records could not be
// read to their end.
using ZNFNoteRecordTake = std::function<bool(QJsonValue element, std::optional<QString> text)>;
using ZNFNoteRecordSource = std::function<bool(const ZNFNoteRecordTake& take, QString* failure)>;

// Turns the Notes app's notes into a backup archive. Lives on the main thread.
class ZNFNotesAppImporter : public std::enable_shared_from_this<ZNFNotesAppImporter> {
public:
    // `notesFolder`: a copied Notes folder (the one holding NoteStore.sqlite, "Media" and
    // "Previews") whose store gives the notes and whose files give the attachments. Empty: the
    // Notes app's own folder under the home folder, with the notes from its export script.
    explicit ZNFNotesAppImporter(QString notesFolder = {}) : m_notesFolder(std::move(notesFolder)) {}
    virtual ~ZNFNotesAppImporter();

    const QString& notesFolder() const { return m_notesFolder; }
    // Whether the Notes app's export script can run here: only where there is osascript (macOS).
    static bool canRunExportScript();

    // Starts a run and returns at once. The export is processed on a worker thread; the
    // completion is called on the main thread once per run that is not cancelled.
    void import(ZNFImporterCompletion completion);
    // Stops the current run: its completion never comes and, if its processing has not started,
    // it writes no archive.
    void cancel();
    bool isImporting() const { return m_isImporting; }
    // Waits (at most `ms`) until every run handed to the worker has ended; a cancelled run
    // ends at its next note and removes what it wrote.
    static bool waitForCancelledRuns(int ms);
    bool isCancelled() const { return m_isCancelled; }

    // Builds the archive from the delivered export and calls the completion with the number
    // of note entries and image entries written (elements that are not objects are skipped).
    void processNotes(const std::optional<QJsonValue>& notes, const ZNFImporterCompletion& completion);
    // The same from records handed over one at a time: each note entry is written as its record
    // comes and its pictures are made meanwhile, so one note at a time is in memory however
    // many there are. The index holds all note entries, then the image entries. A source that
    // fails converts nothing: the archive is then empty.
    void processRecords(const ZNFNoteRecordSource& source, const ZNFImporterCompletion& completion);
    // Converts the copied Notes folder given at construction; one private copy of its store
    // gives both the notes and their attachments. Writes no archive (the outcome says why) when
    // the store could not be read or gave no note. Returns what was left out.
    ZNFNotesFolderReading processFolder(const ZNFImporterCompletion& completion);
    // Finds the image of each raw attachment record in the Notes app's files, writes it as PNG
    // into the archive's "resources" and returns the image entries, in record order.
    QJsonArray processRawAttachments(const QJsonArray& rawAttachments, ZNFBackupArchiveWriter& output);

    // Turns counter-clockwise for positive angles, as on a y-up canvas. 90/270 swap the sides,
    // 180 keeps them, any other angle gives a square of max(w, h) + 20 points; the result has
    // the source's pixel density. 0 (and multiples of 360) return the source itself.
    static ZNFImage::Decoded imageByRotatingImage(const ZNFImage::Decoded& image, float degrees);

    // The record's primary key in the store: the last path component of its "id" with letters
    // trimmed from both ends, read as an integer ("x-coredata://S/ICAttachment/p42" -> 42).
    static qint64 primaryKeyForAttachmentId(const QString& attachmentId);

    // Threads that decode and encode attachment images; 1 does it all on the calling thread.
    // The archive is the same whatever the number. Defaults to the machine's cores (at most 4).
    void setAttachmentThreadCount(int count) { m_attachmentThreads = count < 1 ? 1 : count; }
    int attachmentThreadCount() const { return m_attachmentThreads; }

    // Trims whitespace, newlines and U+FFFC at both ends, then "\n\n\n" -> "\n\n" in one pass.
    // Works in place on a body it is given to keep.
    static QString cleanBody(QString body);

private:
    // The pictures of one run, made as their records come.
    class Pictures;
    using AttachmentLookup = std::function<std::optional<ZNFNotesStoreAttachmentMap>()>;

    const QString m_notesFolder;
    std::atomic<bool> m_isCancelled{false};
    std::unique_ptr<ZNFConversionJob> m_job; // the latest run
    // The run being processed, set by its job's work for as long as it runs; one run at a time.
    ZNFConversionCancelFlag m_runCancelled;
    bool m_isImporting = false;
    int m_attachmentThreads = defaultAttachmentThreadCount();

    static int defaultAttachmentThreadCount();
    bool currentRunCancelled() const;
    AttachmentLookup storeLookup() const;
    void buildArchive(const ZNFNoteRecordSource& source, const AttachmentLookup& lookup, bool writeWhenEmpty,
                      const ZNFImporterCompletion& completion);
    void writeNoteEntry(ZNFBackupArchiveWriter& output, QJsonObject record, std::optional<QString> text);
};
