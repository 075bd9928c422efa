#pragma once

#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QSizeF>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "conversion/ZNFJSONArrayReader.h"
#include "conversion/ZNFTemporaryFiles.h"

// String constants, here and in every library, are `inline constexpr QLatin1StringView`: Qt
// takes them as they are (JSON keys, comparisons, arg(), QString), with no wrap at the call;
// a literal in code is "..."_L1 (using namespace Qt::StringLiterals).

// Keys and values of the archive's index, "entries.json".
inline constexpr QLatin1StringView ZNFBackupEntryKey_entries{"entries"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_kind{"kind"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_state{"state"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_identifier{"identifier"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_body{"body"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_date{"date"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_updatedDate{"updatedDate"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_parentId{"parentId"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_binaryAttachmentId{"binaryAttachmentId"};
inline constexpr QLatin1StringView ZNFBackupEntryKey_userInfo{"userInfo"};
inline constexpr QLatin1StringView ZNFBackupEntryKind_note{"note"};
inline constexpr QLatin1StringView ZNFBackupEntryKind_image{"Image"};
inline constexpr QLatin1StringView ZNFBackupArchive_entriesFileName{"entries.json"};
inline constexpr QLatin1StringView ZNFBackupArchive_resourcesFolderName{"resources"};
inline constexpr QLatin1StringView ZNFBackupArchive_placeholderFileName{".DS_Store"};
inline constexpr QLatin1StringView ZNFBackupArchive_extension{"notebackup"};

// The index is kept in memory up to this size; past it, it is deflated into a private spill
// file as it grows and copied into the archive at the end, so memory stays flat however much
// text there is, while pictures may still come.
inline constexpr qint64 ZNFBackupArchive_indexBufferBytes = 8 * 1024 * 1024;

// Writes one archive straight into a marked partial file beside its final name in the caches
// folder and renames it into place on commit(): the archive path never holds a half-written
// zip. Pictures ("resources/<id>", PNG, already compressed) are stored as they come; entries
// may come before, between and after them, and the deflated index follows the last picture.
// Nothing depends on timing or threads: the same calls give the same bytes.
//
//   ZNFBackupArchiveWriter archive(ZNFVesperNoteImporter_archiveName);
//   archive.addResource(id, png);
//   archive.addEntry(entry);
//   const QString path = archive.commit(); // empty when anything failed
//
// A writer destroyed without commit() removes its partial file.
class ZNFBackupArchiveWriter {
public:
    explicit ZNFBackupArchiveWriter(const QString& archiveFileName);
    ~ZNFBackupArchiveWriter();
    ZNFBackupArchiveWriter(const ZNFBackupArchiveWriter&) = delete;
    ZNFBackupArchiveWriter& operator=(const ZNFBackupArchiveWriter&) = delete;

    // False once anything failed; failure() says what.
    bool isOK() const { return m_failure.isEmpty(); }
    QString failure() const { return m_failure; }
    QString archivePath() const { return m_archivePath; }
    qint64 resourceCount() const { return m_resources; }
    qint64 entryCount() const { return m_entries; }

    // The date every member carries; the writer's creation time unless set.
    void setDate(const QDateTime& date);

    bool addResource(const QString& name, const QByteArray& bytes);
    bool addEntry(const QJsonObject& entry);
    // The entry with `body` under "body", escaped straight into the index: a long note is
    // never copied into a JSON object first.
    bool addEntry(const QJsonObject& entry, const QString& body);
    // Closes the index ({"entries":[...]}) and the zip and renames the archive into place.
    // Returns its path, or empty (the partial file removed) when anything failed.
    QString commit();
    // Removes the partial file; the writer does nothing more.
    void abort();

private:
    struct Spill;
    bool fail(const QString& what);
    bool openMember(const QString& name, bool raw, int method, bool zip64);
    bool write(const char* data, qint64 size);
    bool addPlaceholder();
    bool beginEntry();
    bool endEntry();
    bool spillIndex(bool last);
    bool writeIndex();

    QString m_archivePath;
    QString m_partialPath;
    void* m_zip = nullptr;
    std::unique_ptr<ZNFTemporaryFiles::Guard> m_guard;
    QDateTime m_date;
    QString m_failure;
    qint64 m_resources = 0;
    qint64 m_entries = 0;
    QByteArray m_index;             // index bytes not yet deflated
    std::unique_ptr<Spill> m_spill; // the deflated index past the buffer, once it is needed
    bool m_done = false;
};

// Limits on an archive read back (the list of its notes). An archive past any of them is not
// listed; the reason names the limit.
inline constexpr qint64 ZNFBackupArchiveReader_maxMembers = 1000000;
inline constexpr qint64 ZNFBackupArchiveReader_maxIndexBytes = 1LL << 30; // entries.json, inflated
// Deflate gives text about 3 to 15 times smaller; far more than this is a zip bomb.
inline constexpr qint64 ZNFBackupArchiveReader_maxInflationRatio = 100;
// What any member may inflate to before the ratio counts: small members compress far better.
inline constexpr qint64 ZNFBackupArchiveReader_inflationAllowanceBytes = 1 << 20;
inline constexpr qint64 ZNFBackupArchiveReader_maxEntries = 1000000;
inline constexpr int ZNFBackupArchiveReader_maxSeconds = 60;
// A note's first line is cut after this many characters.
inline constexpr int ZNFBackupArchiveReader_maxFirstLineLength = 200;

struct ZNFBackupArchiveLimits {
    qint64 members = ZNFBackupArchiveReader_maxMembers;
    qint64 indexBytes = ZNFBackupArchiveReader_maxIndexBytes;
    qint64 inflationRatio = ZNFBackupArchiveReader_maxInflationRatio;
    qint64 entries = ZNFBackupArchiveReader_maxEntries;
    qint64 entryBytes = ZNFJSONArrayReader_maxElementBytes;
    int seconds = ZNFBackupArchiveReader_maxSeconds;
};

// One note of an archive, as a list shows it.
struct ZNFBackupNote {
    QString identifier;
    QString firstLine;                 // its first line with text, cut with "…"; empty for an empty note
    std::optional<QDateTime> modified; // "updatedDate", else "date"
    qint64 pictures = 0;
};

// What an archive holds, read from its own index: the notes in the index's order.
struct ZNFBackupListing {
    std::vector<ZNFBackupNote> notes;
    qint64 pictures = 0;        // image entries
    qint64 unlistedEntries = 0; // entries too large to read, so not listed
    QString failure;            // why the archive could not be read; empty when it was

    bool isOK() const { return failure.isEmpty(); }
};

// Reads an archive's "entries.json" in place, streamed: memory grows with the number of notes,
// not with their text or the pictures.
namespace ZNFBackupArchiveReader {
ZNFBackupListing read(const QString& path, const ZNFBackupArchiveLimits& limits = {});
// The first line with text of a body, trimmed and cut at the limit.
QString firstLine(const QString& body);
} // namespace ZNFBackupArchiveReader

namespace ZNFBackupArchive {

// "<caches>/<fileName>".
QString archivePath(const QString& fileName);

// Deletes a folder and everything in it; failures are ignored.
void removeFolder(const QString& folder);

// {"width":W,"height":H} with the shortest decimal numbers.
QString userInfoForSize(const QSizeF& size);

} // namespace ZNFBackupArchive
