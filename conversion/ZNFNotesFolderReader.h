#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// What a store may hand over before a note, or the rest of the notes, is left out.
inline constexpr qint64 ZNFNotesFolderReader_maxNoteDataBytes = 32LL << 20;    // one note's gzip data
inline constexpr qint64 ZNFNotesFolderReader_maxNoteMessageBytes = 64LL << 20; // ... once un-gzipped
inline constexpr int ZNFNotesFolderReader_maxMessageDepth = 32;                // nested messages, groups
inline constexpr qint64 ZNFNotesFolderReader_maxNotes = 100000;
inline constexpr qint64 ZNFNotesFolderReader_maxTextBytes = 256LL << 20; // all notes' text, UTF-8
inline constexpr qint64 ZNFNotesFolderReader_maxAttachments = 200000;
inline constexpr int ZNFNotesFolderReader_timeLimitMs = 10 * 60 * 1000;
inline constexpr qint64 ZNFNotesFolderReader_maxTableCells = 100000;   // of one table
inline constexpr qint64 ZNFNotesFolderReader_maxGalleryPlaces = 10000; // of one scan's list of pages
inline constexpr int ZNFNotesFolderReader_maxFolderDepth = 32;         // folders in folders, for the tag line

// Seconds from 1970 to 2001-01-01 UTC, where the store's dates count from.
inline constexpr double ZNFNotesFolderReader_referenceDateOffset = 978307200.0;

struct ZNFNotesFolderLimits {
    qint64 noteDataBytes = ZNFNotesFolderReader_maxNoteDataBytes;
    qint64 noteMessageBytes = ZNFNotesFolderReader_maxNoteMessageBytes;
    int messageDepth = ZNFNotesFolderReader_maxMessageDepth;
    qint64 notes = ZNFNotesFolderReader_maxNotes;
    qint64 textBytes = ZNFNotesFolderReader_maxTextBytes;
    qint64 attachments = ZNFNotesFolderReader_maxAttachments;
    int timeLimitMs = ZNFNotesFolderReader_timeLimitMs;
    qint64 tableCells = ZNFNotesFolderReader_maxTableCells;
    qint64 galleryPages = ZNFNotesFolderReader_maxGalleryPlaces;
};

// What reading a copied Notes folder gave.
struct ZNFNotesFolderReading {
    // The note records, newest modification first, in the form the export script writes, when
    // they were collected; nullopt when the store could not be read, and then `failure` says
    // why in one line.
    std::optional<QJsonArray> notes;
    QString failure;

    // The notes left out, by reason.
    qint64 deleted = 0;         // marked for deletion
    qint64 recentlyDeleted = 0; // in the "Recently Deleted" folder
    qint64 locked = 0;          // password-protected: their data is encrypted
    qint64 unreadable = 0;      // data missing, not gzip, too large or no readable message
    qint64 overLimit = 0;       // past the limit on the number of notes or on all their text
    qint64 attachmentsOverLimit = 0;

    // One line per reason that left something out: "2 locked notes left out".
    QStringList leftOutLines() const;
};

// Reads the notes of a copied Notes folder (the one holding NoteStore.sqlite, "Media" and
// "Previews") from a private temporary copy of its store, never from the folder itself.
// Stateless; any thread.
namespace ZNFNotesFolderReader {

// Hands each note record to `take` as it is read, newest modification first, with its
// attachments and without its "text", which comes apart, and stops early when `take` returns
// false. `copied`, when given, is called first
// with the path of the private copy of the database, which stays until read() returns.
// Success is an empty `failure`; records may have been handed over before a failure.
ZNFNotesFolderReading read(const QString& folder,
                           const std::function<bool(QJsonObject record, QString text)>& take,
                           const ZNFNotesFolderLimits& limits = {},
                           const std::function<void(const QString& database)>& copied = {});
// The same, collecting the records into `notes`.
ZNFNotesFolderReading read(const QString& folder, const ZNFNotesFolderLimits& limits = {});

// A note's text from its data (gzip'd protocol buffers); nullopt, with the reason in
// `failure`, when the data is not gzip, passes a limit or holds no readable message.
std::optional<QString> noteText(const QByteArray& data, QString* failure = nullptr,
                                const ZNFNotesFolderLimits& limits = {});

// A table's rows from its data (the attachment's gzip'd ZMERGEABLEDATA1), each row's cells in
// reading order (right to left tables turned around); nullopt, with the reason in `failure`,
// when the data is not gzip, passes a limit (its cells included) or holds no readable table.
std::optional<std::vector<QStringList>> tableRows(const QByteArray& data, QString* failure = nullptr,
                                                  const ZNFNotesFolderLimits& limits = {});

// The pages of a scanned document (a gallery) from its data (the attachment's gzip'd
// ZMERGEABLEDATA1): the pages' identifiers as upper-case UUIDs, in the order the scan shows
// them, without repeats and without those it no longer holds; only the first `galleryPages`
// places of its list are read. nullopt, with the reason in `failure`, when the data is not
// gzip, passes a limit or holds no list of pages.
std::optional<QStringList> galleryPages(const QByteArray& data, QString* failure = nullptr,
                                        const ZNFNotesFolderLimits& limits = {});

} // namespace ZNFNotesFolderReader
