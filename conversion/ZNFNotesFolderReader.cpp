#include "conversion/ZNFNotesFolderReader.h"

#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFNoteBodyText.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesBody.h"
#include "conversion/ZNFNotesStore.h"

#include "ZNFNoteStore.pb.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QUuid>

#include <google/protobuf/io/coded_stream.h>
#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

// The store's own names, handed to SQLite's C API as they are. Column names differ between versions of the
// Notes app, so every column is looked up first and a missing one reads as NULL.
constexpr const char* kObjectsTable = "ZICCLOUDSYNCINGOBJECT";
constexpr const char* kNoteDataTable = "ZICNOTEDATA";
constexpr const char* kEntitiesTable = "Z_PRIMARYKEY";
constexpr const char* kMetadataTable = "Z_METADATA";
constexpr const char* kNoteEntity = "ICNote";
constexpr const char* kAttachmentEntity = "ICAttachment";
constexpr const char* kFolderEntity = "ICFolder";
constexpr const char* kIdentifierScheme = "x-coredata://";
constexpr const char* kInlineTextType = "com.apple.notes.inlinetextattachment";
constexpr const char* kDefaultFolderIdentifier = "DefaultFolder";
constexpr int kProgressInterval = 10000; // SQLite instructions between deadline checks

QString plural(qint64 count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1StringView(count == 1 ? one : many));
}

// Un-gzips `data` into `out`, never past `limit` bytes.
bool gunzip(const QByteArray& data, std::string& out, qint64 limit, QString& failure) {
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip header and trailer, nothing else.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        failure = QStringLiteral("zlib could not start");
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    const size_t ceiling = size_t(limit) + 1; // one byte more tells "too large" from "exactly the limit"
    out.resize(std::min<size_t>(std::max<size_t>(size_t(data.size()) * 4, 4096), ceiling));
    size_t used = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (used == out.size()) {
            if (out.size() >= ceiling)
                break;
            out.resize(std::min(out.size() * 2, ceiling));
        }
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
        stream.avail_out = uInt(out.size() - used);
        status = inflate(&stream, Z_NO_FLUSH);
        used = out.size() - stream.avail_out;
    }
    inflateEnd(&stream);
    if (used >= ceiling) {
        failure = QStringLiteral("its data is larger than %1 bytes once un-gzipped").arg(limit);
        return false;
    }
    if (status != Z_STREAM_END) {
        failure = status == Z_BUF_ERROR ? QStringLiteral("its gzip data is cut short")
                                        : QStringLiteral("its gzip data is damaged");
        return false;
    }
    out.resize(used);
    return true;
}

std::optional<znf::notestore::Note> decodeNote(const QByteArray& data, QString* failure,
                                               const ZNFNotesFolderLimits& limits);

// One prepared statement, finalized when it goes.
struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(handle); }
};

std::optional<double> numberColumn(sqlite3_stmt* statement, int column) {
    const int type = sqlite3_column_type(statement, column);
    if (type != SQLITE_INTEGER && type != SQLITE_FLOAT)
        return std::nullopt;
    const double value = sqlite3_column_double(statement, column);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

// Seconds since 2001 as the export script writes dates: milliseconds since 1970.
double epochMilliseconds(double referenceSeconds) {
    return (referenceSeconds + ZNFNotesFolderReader_referenceDateOffset) * 1000.0;
}

QString textColumn(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

// One read of the copy of a store, handing each note over as it is read.
class StoreReader {
public:
    StoreReader(const ZNFNotesFolderLimits& limits, ZNFNotesFolderReading& reading,
                const std::function<bool(QJsonObject, QString)>& take)
        : m_limits(limits), m_reading(reading), m_take(take), m_deadline(limits.timeLimitMs) {}
    ~StoreReader() {
        // A statement left open would keep the connection from closing.
        sqlite3_finalize(m_attachments.handle);
        m_attachments.handle = nullptr;
        sqlite3_finalize(m_inline.handle);
        m_inline.handle = nullptr;
        sqlite3_finalize(m_folder.handle);
        m_folder.handle = nullptr;
        sqlite3_close(m_db);
    }

    void read(const QString& database);

private:
    const ZNFNotesFolderLimits& m_limits;
    ZNFNotesFolderReading& m_reading;
    const std::function<bool(QJsonObject, QString)>& m_take;
    QDeadlineTimer m_deadline;
    sqlite3* m_db = nullptr;
    QString m_uuid;
    QHash<QString, qint64> m_entities;
    QSet<QString> m_objectColumns;
    QSet<QString> m_noteDataColumns;
    Statement m_attachments; // one note's attachments; no handle when the store has none
    Statement m_inline;      // an attachment by identifier, for the text it leaves in the body
    Statement m_folder;      // a folder's title, parent and identifier
    QHash<qint64, QString> m_folderTags;
    bool m_inlinePrepared = false;
    qint64 m_attachmentCount = 0;

    bool fail(const QString& reason) {
        m_reading.failure = reason;
        return false;
    }
    bool timedOut() const { return m_deadline.hasExpired(); }
    bool failOnStep(int status, const char* what);
    bool prepare(Statement& statement, const QByteArray& sql, const char* what);
    bool hasTable(const char* name);
    QSet<QString> columnsOf(const char* table);
    // `alias.NAME` when the table has the column, else NULL.
    QByteArray column(const QSet<QString>& columns, const char* alias, const char* name) const;
    static QByteArray number(const QByteArray& expression);

    bool open(const QString& database);
    bool readEntities();
    void readUUID();
    bool readNotes();
    bool prepareAttachments();
    bool readAttachments(qint64 note, const QString& noteId, std::optional<double> created,
                         QJsonArray& attachments);
    void createIndex(const char* name, const char* table, const char* column);
    QString identifier(const char* entity, qint64 primaryKey) const;
    // The note's text; nullopt when it has none that can be read, and then `status` is
    // SQLITE_DONE unless reading the data itself failed.
    std::optional<QString> noteText(sqlite3_stmt* data, qint64 primaryKey, qint64& textBytes, int& status);
    // The tag line of a note in the folder: the folder's path below its account, "#travel
    // #japan"; empty for the account's default folder.
    QString folderTags(qint64 folder);
    // What an attachment's U+FFFC becomes in the body (see ZNFNotesBody::AttachmentText).
    std::optional<QString> attachmentText(const QString& identifier, const QString& runType);
};

QString StoreReader::folderTags(qint64 folder) {
    if (const auto cached = m_folderTags.constFind(folder); cached != m_folderTags.constEnd())
        return *cached;
    if (!m_folder.handle) {
        const QSet<QString>& c = m_objectColumns;
        const QByteArray sql = "SELECT COALESCE(" + column(c, "f", "ZTITLE2") + ", " +
                               column(c, "f", "ZTITLE1") + ", " + column(c, "f", "ZTITLE") + "), " +
                               column(c, "f", "ZPARENT") + ", " + column(c, "f", "ZIDENTIFIER") + " FROM " +
                               kObjectsTable + " AS f WHERE " + column(c, "f", "Z_PK") + " = ?1 AND " +
                               column(c, "f", "Z_ENT") + " = ?2";
        if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &m_folder.handle, nullptr) !=
            SQLITE_OK)
            return m_folderTags[folder] = QString();
        sqlite3_bind_int64(m_folder.handle, 2, m_entities.value(kFolderEntity));
    }
    QStringList path;
    QSet<qint64> seen; // a parent chain that loops ends where it meets itself
    for (qint64 key = folder; path.size() < ZNFNotesFolderReader_maxFolderDepth && !seen.contains(key);) {
        seen.insert(key);
        sqlite3_reset(m_folder.handle);
        sqlite3_bind_int64(m_folder.handle, 1, key);
        if (sqlite3_step(m_folder.handle) != SQLITE_ROW)
            break;
        // The account's default folder ("Notes") is where notes are when they are in none.
        if (textColumn(m_folder.handle, 2).contains(QLatin1StringView(kDefaultFolderIdentifier)))
            break;
        path.prepend(textColumn(m_folder.handle, 0));
        if (sqlite3_column_type(m_folder.handle, 1) != SQLITE_INTEGER)
            break;
        key = sqlite3_column_int64(m_folder.handle, 1);
    }
    sqlite3_reset(m_folder.handle);
    return m_folderTags[folder] = ZNFNoteBodyText::tagLine(path);
}

std::optional<QString> StoreReader::attachmentText(const QString& identifier, const QString& runType) {
    if (!m_inlinePrepared) {
        m_inlinePrepared = true;
        if (m_objectColumns.contains(QStringLiteral("ZIDENTIFIER"))) {
            createIndex("znf_objects_by_identifier", kObjectsTable, "ZIDENTIFIER");
            const QSet<QString>& c = m_objectColumns;
            const QByteArray media = c.contains(QStringLiteral("ZMEDIA")) ? "m.Z_PK = o.ZMEDIA" : "0";
            // A table's cells (older releases: ZMERGEABLEDATA), loaded only within the limit.
            const QByteArray mergeable = "COALESCE(" + column(c, "o", "ZMERGEABLEDATA1") + ", " +
                                         column(c, "o", "ZMERGEABLEDATA") + ")";
            const QByteArray tableData = "CASE WHEN length(" + mergeable +
                                         ") <= " + QByteArray::number(m_limits.noteDataBytes) + " THEN " +
                                         mergeable + " END";
            const QByteArray sql = "SELECT COALESCE(" + column(c, "o", "ZTYPEUTI") + ", " +
                                   column(c, "o", "ZTYPEUTI1") + "), " + column(c, "o", "ZALTTEXT") + ", " +
                                   column(c, "o", "ZURLSTRING") + ", " + column(c, "o", "ZTITLE") + ", " +
                                   column(c, "m", "ZFILENAME") + ", " + tableData + " FROM " + kObjectsTable +
                                   " AS o LEFT JOIN " + kObjectsTable + " AS m ON " + media +
                                   " WHERE o.ZIDENTIFIER = ?1 LIMIT 1";
            if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &m_inline.handle, nullptr) !=
                SQLITE_OK)
                qCWarning(lcConversion()).noquote()
                    << QStringLiteral("Notes folder: could not look attachments up: %1")
                           .arg(QString::fromUtf8(sqlite3_errmsg(m_db)));
        }
    }
    QString type = runType, altText, url, title, fileName;
    QByteArray tableData;
    if (m_inline.handle) {
        sqlite3_reset(m_inline.handle);
        const QByteArray id = identifier.toUtf8();
        sqlite3_bind_text(m_inline.handle, 1, id.constData(), int(id.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(m_inline.handle) == SQLITE_ROW) {
            if (const QString stored = textColumn(m_inline.handle, 0); !stored.isEmpty())
                type = stored;
            altText = textColumn(m_inline.handle, 1);
            url = textColumn(m_inline.handle, 2);
            title = textColumn(m_inline.handle, 3);
            fileName = textColumn(m_inline.handle, 4);
            if (sqlite3_column_type(m_inline.handle, 5) == SQLITE_BLOB)
                tableData = QByteArray(static_cast<const char*>(sqlite3_column_blob(m_inline.handle, 5)),
                                       sqlite3_column_bytes(m_inline.handle, 5));
        }
        sqlite3_reset(m_inline.handle);
    }
    // Hashtags and mentions are text the Notes app draws in a box of its own.
    if (type.startsWith(QLatin1StringView(kInlineTextType)))
        return altText;
    switch (ZNFNotesStore::kindOf(type)) {
    case ZNFNotesStoreKind::Text:
        if (type == ZNFNotesStoreType_url)
            return ZNFNoteBodyText::link(title, url);
        if (type == ZNFNotesStoreType_table) {
            QString failure = QStringLiteral("there is no table data");
            if (const auto rows = ZNFNotesFolderReader::tableRows(tableData, &failure, m_limits)) {
                QStringList lines;
                for (const QStringList& row : *rows)
                    lines << ZNFNoteBodyText::tableRow(row);
                return lines.join(u'\n');
            }
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Notes folder: left out the table %1, %2").arg(identifier, failure);
            return QString();
        }
        qCInfo(lcConversion()).noquote()
            << QStringLiteral("Notes folder: the text of attachment %1 (%2) is left out")
                   .arg(identifier, type);
        return QString();
    case ZNFNotesStoreKind::PDF:
    case ZNFNotesStoreKind::Audio:
    case ZNFNotesStoreKind::Video: {
        const ZNFNotesStoreKind kind = ZNFNotesStore::kindOf(type);
        const ZNFLeftOutReason reason = kind == ZNFNotesStoreKind::PDF     ? ZNFLeftOutReason::PDF
                                        : kind == ZNFNotesStoreKind::Audio ? ZNFLeftOutReason::Audio
                                                                           : ZNFLeftOutReason::Video;
        return ZNFLeftOut::placeholderLine(reason, !title.isEmpty()      ? title
                                                   : !fileName.isEmpty() ? fileName
                                                                         : identifier);
    }
    default:
        return std::nullopt;
    }
}

bool StoreReader::failOnStep(int status, const char* what) {
    if (status == SQLITE_INTERRUPT || timedOut())
        return fail(
            QStringLiteral("reading the store took longer than %1 s").arg(m_limits.timeLimitMs / 1000.0));
    return fail(QStringLiteral("could not read %1 of the store: %2")
                    .arg(QLatin1StringView(what), QString::fromUtf8(sqlite3_errstr(status))));
}

bool StoreReader::prepare(Statement& statement, const QByteArray& sql, const char* what) {
    const int status = sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &statement.handle, nullptr);
    if (status == SQLITE_OK)
        return true;
    if (status == SQLITE_INTERRUPT || timedOut())
        return failOnStep(status, what);
    return fail(QStringLiteral("could not read %1 of the store: %2")
                    .arg(QLatin1StringView(what), QString::fromUtf8(sqlite3_errmsg(m_db))));
}

bool StoreReader::hasTable(const char* name) {
    Statement statement;
    if (!prepare(statement,
                 "SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE",
                 "the list of tables"))
        return false;
    sqlite3_bind_text(statement.handle, 1, name, -1, SQLITE_STATIC);
    const int status = sqlite3_step(statement.handle);
    if (status != SQLITE_ROW && status != SQLITE_DONE)
        failOnStep(status, "the list of tables");
    return status == SQLITE_ROW;
}

QSet<QString> StoreReader::columnsOf(const char* table) {
    // Columns that cannot be listed read as missing, as columns that are not there do.
    QSet<QString> columns;
    Statement statement;
    if (sqlite3_prepare_v2(m_db, "SELECT name FROM pragma_table_info(?1)", -1, &statement.handle, nullptr) !=
        SQLITE_OK)
        return columns;
    sqlite3_bind_text(statement.handle, 1, table, -1, SQLITE_STATIC);
    while (sqlite3_step(statement.handle) == SQLITE_ROW)
        columns.insert(textColumn(statement.handle, 0).toUpper());
    return columns;
}

QByteArray StoreReader::column(const QSet<QString>& columns, const char* alias, const char* name) const {
    if (!columns.contains(QLatin1StringView(name)))
        return "NULL";
    return QByteArray(alias) + ".\"" + name + '"';
}

QByteArray StoreReader::number(const QByteArray& expression) {
    // Dates are REAL in the store; anything else in a date column is no date.
    return "(CASE WHEN typeof(" + expression + ") IN ('integer', 'real') THEN " + expression + " END)";
}

bool StoreReader::open(const QString& database) {
    // Read-write on our own copy so that SQLite can replay the copied write-ahead log; without
    // SQLITE_OPEN_CREATE a missing copy fails here instead of becoming an empty database.
    const int opened =
        sqlite3_open_v2(QFile::encodeName(database).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (opened != SQLITE_OK)
        return fail(QStringLiteral("could not open the store: %1")
                        .arg(QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(opened))));
    // The store came from outside: nothing in its schema may run code or write beyond our copy.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    // The copy is thrown away afterwards: what this connection writes (an index) need not
    // wait for the disk.
    sqlite3_exec(m_db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_progress_handler(
        m_db, kProgressInterval,
        [](void* deadline) { return static_cast<QDeadlineTimer*>(deadline)->hasExpired() ? 1 : 0; },
        &m_deadline);
    // A file that is no database at all fails on its first read.
    Statement probe;
    if (!prepare(probe, "SELECT count(*) FROM sqlite_master", "the list of tables"))
        return false;
    const int status = sqlite3_step(probe.handle);
    return status == SQLITE_ROW || failOnStep(status, "the list of tables");
}

bool StoreReader::readEntities() {
    if (!hasTable(kEntitiesTable)) {
        if (m_reading.failure.isEmpty())
            fail(QStringLiteral("the store has no %1 table: it is not a Notes store").arg(kEntitiesTable));
        return false;
    }
    Statement statement;
    if (!prepare(statement, QByteArray("SELECT Z_ENT, Z_NAME FROM ") + kEntitiesTable, "the entity table"))
        return false;
    int status;
    while ((status = sqlite3_step(statement.handle)) == SQLITE_ROW)
        if (sqlite3_column_type(statement.handle, 0) == SQLITE_INTEGER)
            m_entities.insert(textColumn(statement.handle, 1), sqlite3_column_int64(statement.handle, 0));
    if (status != SQLITE_DONE)
        return failOnStep(status, "the entity table");
    if (!m_entities.contains(kNoteEntity))
        return fail(QStringLiteral("the store's %1 table names no %2 entity: it is not a Notes store")
                        .arg(kEntitiesTable, kNoteEntity));
    return true;
}

void StoreReader::readUUID() {
    // A store without its identifier still has notes: no failure here.
    Statement statement;
    const QByteArray sql = QByteArray("SELECT Z_UUID FROM ") + kMetadataTable;
    if (sqlite3_prepare_v2(m_db, sql.constData(), int(sql.size()), &statement.handle, nullptr) == SQLITE_OK &&
        sqlite3_step(statement.handle) == SQLITE_ROW)
        m_uuid = textColumn(statement.handle, 0);
    if (m_uuid.isEmpty())
        qCInfo(lcConversion()).noquote()
            << QStringLiteral("Notes folder: the store names no identifier; note identifiers go without it");
}

QString StoreReader::identifier(const char* entity, qint64 primaryKey) const {
    return QLatin1StringView(kIdentifierScheme) + m_uuid + u'/' + QLatin1StringView(entity) +
           QStringLiteral("/p") + QString::number(primaryKey);
}

std::optional<QString> StoreReader::noteText(sqlite3_stmt* data, qint64 primaryKey, qint64& textBytes,
                                             int& status) {
    QString failure = QStringLiteral("there is no note data");
    status = SQLITE_DONE;
    if (data) {
        sqlite3_reset(data);
        sqlite3_bind_int64(data, 1, primaryKey);
        // A note has one data row; should there be more, the first readable one counts.
        while ((status = sqlite3_step(data)) == SQLITE_ROW) {
            const qint64 length = sqlite3_column_int64(data, 1);
            if (qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(data, 0)), "blob") != 0) {
                failure = QStringLiteral("its data is not gzip");
                continue;
            }
            if (length > m_limits.noteDataBytes) {
                failure = QStringLiteral("its data is larger than %1 bytes").arg(m_limits.noteDataBytes);
                continue;
            }
            const QByteArray bytes = QByteArray::fromRawData(
                static_cast<const char*>(sqlite3_column_blob(data, 2)), sqlite3_column_bytes(data, 2));
            if (const auto note = decodeNote(bytes, &failure, m_limits)) {
                sqlite3_reset(data);
                textBytes = qint64(note->note_text().size());
                return ZNFNotesBody::render(*note, [this](const QString& id, const QString& type) {
                    return attachmentText(id, type);
                });
            }
        }
        sqlite3_reset(data);
        if (status == SQLITE_INTERRUPT)
            return std::nullopt;
        if (status != SQLITE_DONE)
            failure = QStringLiteral("its data could not be read: %1")
                          .arg(QString::fromUtf8(sqlite3_errstr(status)));
    }
    qCWarning(lcConversion()).noquote() << QStringLiteral("Notes folder: left out note %1, %2")
                                               .arg(identifier(kNoteEntity, primaryKey), failure);
    return std::nullopt;
}

bool StoreReader::readNotes() {
    const QByteArray id = column(m_objectColumns, "n", "Z_PK");
    const QByteArray modified = "COALESCE(" + number(column(m_objectColumns, "n", "ZMODIFICATIONDATE1")) +
                                ", " + number(column(m_objectColumns, "n", "ZMODIFICATIONDATE")) + ")";
    const QByteArray sql =
        "SELECT " + id + ", " + column(m_objectColumns, "n", "ZMARKEDFORDELETION") + " = 1, " +
        column(m_objectColumns, "n", "ZISPASSWORDPROTECTED") + " = 1, " +
        column(m_objectColumns, "f", "ZFOLDERTYPE") + " = 1, COALESCE(" +
        number(column(m_objectColumns, "n", "ZCREATIONDATE3")) + ", " +
        number(column(m_objectColumns, "n", "ZCREATIONDATE1")) + ", " +
        number(column(m_objectColumns, "n", "ZCREATIONDATE")) + "), " + modified + " AS modified, " +
        column(m_objectColumns, "f", "Z_PK") + " FROM " + kObjectsTable + " AS n LEFT JOIN " + kObjectsTable +
        " AS f ON " + column(m_objectColumns, "f", "Z_PK") + " = " + column(m_objectColumns, "n", "ZFOLDER") +
        " AND " + column(m_objectColumns, "f", "Z_ENT") + " = ?2 WHERE " +
        column(m_objectColumns, "n", "Z_ENT") + " = ?1 ORDER BY modified IS NULL, modified DESC, " + id;
    Statement notes;
    if (!prepare(notes, sql, "the notes"))
        return false;
    sqlite3_bind_int64(notes.handle, 1, m_entities.value(kNoteEntity));
    if (m_entities.contains(kFolderEntity))
        sqlite3_bind_int64(notes.handle, 2, m_entities.value(kFolderEntity));

    Statement data;
    if (m_noteDataColumns.contains(QStringLiteral("ZNOTE")) &&
        m_noteDataColumns.contains(QStringLiteral("ZDATA"))) {
        createIndex("znf_note_data_by_note", kNoteDataTable, "ZNOTE");
        // The blob is only loaded when it is within the limit.
        const QByteArray dataSql =
            "SELECT typeof(d.ZDATA), length(d.ZDATA), CASE WHEN typeof(d.ZDATA) = 'blob' "
            "AND length(d.ZDATA) <= ?2 THEN d.ZDATA END FROM " +
            QByteArray(kNoteDataTable) + " AS d WHERE d.ZNOTE = ?1";
        if (!prepare(data, dataSql, "the note data"))
            return false;
        sqlite3_bind_int64(data.handle, 2, m_limits.noteDataBytes);
    }

    if (!prepareAttachments())
        return false;
    qint64 textBytes = 0;
    qint64 kept = 0;
    int status;
    while ((status = sqlite3_step(notes.handle)) == SQLITE_ROW) {
        if (sqlite3_column_type(notes.handle, 0) == SQLITE_NULL) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Notes folder: left out a note without a primary key");
            ++m_reading.unreadable;
            continue;
        }
        const qint64 primaryKey = sqlite3_column_int64(notes.handle, 0);
        if (sqlite3_column_int(notes.handle, 1)) {
            ++m_reading.deleted;
            continue;
        }
        if (sqlite3_column_int(notes.handle, 3)) {
            ++m_reading.recentlyDeleted;
            continue;
        }
        if (sqlite3_column_int(notes.handle, 2)) {
            ++m_reading.locked;
            continue;
        }
        if (kept >= m_limits.notes || textBytes > m_limits.textBytes) {
            ++m_reading.overLimit;
            continue;
        }
        if (timedOut())
            return failOnStep(SQLITE_INTERRUPT, "the notes");
        qint64 bytes = 0;
        int dataStatus = SQLITE_DONE;
        std::optional<QString> text = noteText(data.handle, primaryKey, bytes, dataStatus);
        if (dataStatus == SQLITE_INTERRUPT || timedOut())
            return failOnStep(SQLITE_INTERRUPT, "the note data");
        if (!text) {
            ++m_reading.unreadable;
            continue;
        }
        textBytes += bytes;
        if (textBytes > m_limits.textBytes) {
            // This note and every later one: the newest notes make it in whole.
            ++m_reading.overLimit;
            continue;
        }
        if (sqlite3_column_type(notes.handle, 6) == SQLITE_INTEGER)
            if (const QString tags = folderTags(sqlite3_column_int64(notes.handle, 6)); !tags.isEmpty())
                *text += QStringLiteral("\n\n") + tags;
        std::optional<double> created = numberColumn(notes.handle, 4);
        if (created)
            created = epochMilliseconds(*created);
        const QString id = identifier(kNoteEntity, primaryKey);
        QJsonArray attachments;
        if (!readAttachments(primaryKey, id, created, attachments))
            return false;
        QJsonObject record;
        record.insert(ZNFNotesAppImporterKey_id, id);
        if (created)
            record.insert(ZNFNotesAppImporterKey_creationDate, *created);
        if (const auto modifiedDate = numberColumn(notes.handle, 5))
            record.insert(ZNFNotesAppImporterKey_modificationDate, epochMilliseconds(*modifiedDate));
        record.insert(ZNFNotesAppImporterKey_attachments, attachments);
        ++kept;
        if (!m_take(std::move(record), std::move(*text)))
            return true;
    }
    return status == SQLITE_DONE || failOnStep(status, "the notes");
}

void StoreReader::createIndex(const char* name, const char* table, const char* column) {
    // Our copy, so an index of our own may go into it: one lookup per note instead of a scan
    // of the whole table for each note.
    const QByteArray sql =
        QByteArray("CREATE INDEX IF NOT EXISTS ") + name + " ON " + table + "(\"" + column + "\")";
    if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes folder: could not index %1: %2")
                   .arg(QLatin1StringView(table), QString::fromUtf8(sqlite3_errmsg(m_db)));
}

bool StoreReader::prepareAttachments() {
    if (!m_entities.contains(kAttachmentEntity) || !m_objectColumns.contains(QStringLiteral("ZNOTE")) ||
        !m_objectColumns.contains(QStringLiteral("Z_PK")))
        return true;
    createIndex("znf_objects_by_note", kObjectsTable, "ZNOTE");
    const QByteArray sql = "SELECT a.Z_PK, " + number(column(m_objectColumns, "a", "ZCREATIONDATE")) +
                           " FROM " + kObjectsTable + " AS a WHERE " + column(m_objectColumns, "a", "Z_ENT") +
                           " = ?1 AND a.ZNOTE = ?2 AND a.Z_PK IS NOT NULL ORDER BY a.Z_PK";
    if (!prepare(m_attachments, sql, "the attachments"))
        return false;
    sqlite3_bind_int64(m_attachments.handle, 1, m_entities.value(kAttachmentEntity));
    return true;
}

bool StoreReader::readAttachments(qint64 note, const QString& noteId, std::optional<double> created,
                                  QJsonArray& attachments) {
    if (!m_attachments.handle)
        return true;
    sqlite3_reset(m_attachments.handle);
    sqlite3_bind_int64(m_attachments.handle, 2, note);
    int status;
    while ((status = sqlite3_step(m_attachments.handle)) == SQLITE_ROW) {
        if (m_attachmentCount >= m_limits.attachments) {
            ++m_reading.attachmentsOverLimit;
            continue;
        }
        ++m_attachmentCount;
        QJsonObject record;
        record.insert(ZNFNotesAppImporterKey_id,
                      identifier(kAttachmentEntity, sqlite3_column_int64(m_attachments.handle, 0)));
        record.insert(ZNFNotesAppImporterKey_parentId, noteId);
        const std::optional<double> date = numberColumn(m_attachments.handle, 1);
        if (date)
            record.insert(ZNFNotesAppImporterKey_date, epochMilliseconds(*date));
        else if (created)
            record.insert(ZNFNotesAppImporterKey_date, *created);
        attachments.append(record);
    }
    sqlite3_reset(m_attachments.handle);
    return status == SQLITE_DONE || failOnStep(status, "the attachments");
}

void StoreReader::read(const QString& database) {
    if (!open(database) || !readEntities())
        return;
    for (const char* table : {kObjectsTable, kNoteDataTable})
        if (!hasTable(table)) {
            if (m_reading.failure.isEmpty())
                fail(QStringLiteral("the store has no %1 table: it is not a Notes store of a version this "
                                    "can read")
                         .arg(QLatin1StringView(table)));
            return;
        }
    readUUID();
    m_objectColumns = columnsOf(kObjectsTable);
    m_noteDataColumns = columnsOf(kNoteDataTable);
    readNotes();
}

} // namespace

QStringList ZNFNotesFolderReading::leftOutLines() const {
    QStringList lines;
    const QString leftOut = QStringLiteral(" left out");
    if (deleted)
        lines << plural(deleted, "deleted note", "deleted notes") + leftOut;
    if (recentlyDeleted)
        lines << plural(recentlyDeleted, "note in Recently Deleted", "notes in Recently Deleted") + leftOut;
    if (locked)
        lines << plural(locked, "locked note", "locked notes") + leftOut;
    if (unreadable)
        lines << plural(unreadable, "note with unreadable data", "notes with unreadable data") + leftOut;
    if (overLimit)
        lines << plural(overLimit, "note past the limits on notes and text",
                        "notes past the limits on notes and text") +
                     leftOut;
    if (attachmentsOverLimit)
        lines << plural(attachmentsOverLimit, "attachment past the limit on attachments",
                        "attachments past the limit on attachments") +
                     leftOut;
    return lines;
}

namespace {

// The note's message: its UTF-8 text, as the store holds it, and its runs.
std::optional<znf::notestore::Note> decodeNote(const QByteArray& data, QString* failure,
                                               const ZNFNotesFolderLimits& limits) {
    auto fail = [failure](const QString& reason) -> std::optional<znf::notestore::Note> {
        if (failure)
            *failure = reason;
        return std::nullopt;
    };
    if (data.isEmpty())
        return fail(QStringLiteral("there is no note data"));
    if (data.size() > limits.noteDataBytes)
        return fail(QStringLiteral("its data is larger than %1 bytes").arg(limits.noteDataBytes));
    if (data.size() < 2 || uchar(data[0]) != 0x1f || uchar(data[1]) != 0x8b)
        return fail(QStringLiteral("its data is not gzip"));
    std::string message;
    QString reason;
    if (!gunzip(data, message, limits.noteMessageBytes, reason))
        return fail(reason);

    google::protobuf::io::CodedInputStream stream(reinterpret_cast<const uint8_t*>(message.data()),
                                                  int(message.size()));
    stream.SetRecursionLimit(limits.messageDepth);
    znf::notestore::NoteStoreProto proto;
    if (!proto.ParseFromCodedStream(&stream) || !stream.ConsumedEntireMessage())
        return fail(QStringLiteral("its data is no readable message"));
    if (!proto.has_document() || !proto.document().has_note() || !proto.document().note().has_note_text())
        return fail(QStringLiteral("its data holds no note text"));
    return std::move(*proto.mutable_document()->mutable_note());
}

} // namespace

namespace {

namespace N = znf::notestore;

// The CRDT document of a table's or a gallery's data, once un-gzipped; nullopt, with the
// reason in `failure`, when it cannot be read within the limits.
std::optional<N::MergableDataProto> decodeMergeable(const QByteArray& data, QString& failure,
                                                    const ZNFNotesFolderLimits& limits) {
    if (data.size() > limits.noteDataBytes) {
        failure = QStringLiteral("its data is larger than %1 bytes").arg(limits.noteDataBytes);
        return std::nullopt;
    }
    if (data.size() < 2 || uchar(data[0]) != 0x1f || uchar(data[1]) != 0x8b) {
        failure = QStringLiteral("its data is not gzip");
        return std::nullopt;
    }
    std::string message;
    if (!gunzip(data, message, limits.noteMessageBytes, failure))
        return std::nullopt;
    google::protobuf::io::CodedInputStream stream(reinterpret_cast<const uint8_t*>(message.data()),
                                                  int(message.size()));
    stream.SetRecursionLimit(limits.messageDepth);
    N::MergableDataProto proto;
    if (!proto.ParseFromCodedStream(&stream) || !stream.ConsumedEntireMessage()) {
        failure = QStringLiteral("its data is no readable message");
        return std::nullopt;
    }
    return proto;
}

// One CRDT document, whose objects refer to each other by their index among its entries and
// to UUIDs by their index among its UUIDs; every index from the data is checked before use.
class Document {
public:
    explicit Document(const N::MergeableDataObjectData& data) : m_data(data) {
        // The same UUID stored twice is one UUID: its first place stands for both.
        m_canonical.reserve(size_t(data.mergeable_data_object_uuid_item_size()));
        for (int i = 0; i < data.mergeable_data_object_uuid_item_size(); ++i) {
            const QByteArray uuid = QByteArray::fromStdString(data.mergeable_data_object_uuid_item(i));
            const auto known = m_uuidIndex.constFind(uuid);
            m_canonical.push_back(known == m_uuidIndex.constEnd() ? *m_uuidIndex.insert(uuid, i) : *known);
        }
    }

    const N::MergeableDataObjectData& data() const { return m_data; }

    const N::MergeableDataObjectEntry* entry(const N::ObjectID& id) const {
        const int index = id.object_index();
        return id.has_object_index() && index >= 0 && index < m_data.mergeable_data_object_entry_size()
                   ? &m_data.mergeable_data_object_entry(index)
                   : nullptr;
    }
    // A UUID object: a map whose first entry's value is an index among the UUIDs; -1 when none.
    int uuidOf(const N::ObjectID& id) const {
        const auto* object = entry(id);
        if (!object || !object->has_custom_map() || object->custom_map().map_entry_size() == 0)
            return -1;
        const quint64 index = object->custom_map().map_entry(0).value().unsigned_integer_value();
        return index < quint64(m_canonical.size()) ? m_canonical[size_t(index)] : -1;
    }
    // The UUID indexes of an ordered set, in order, without those that are not its elements
    // and without repeats; at most `limit` places of its ordering are read.
    std::vector<int> ordered(const N::MergeableDataObjectEntry* set, qint64 limit) const;

private:
    const N::MergeableDataObjectData& m_data;
    QHash<QByteArray, int> m_uuidIndex;
    std::vector<int> m_canonical; // a UUID's index -> the first index of the same UUID
};

std::vector<int> Document::ordered(const N::MergeableDataObjectEntry* set, qint64 limit) const {
    std::vector<int> order;
    if (!set || !set->has_ordered_set())
        return order;
    const auto& orderedSet = set->ordered_set();
    QHash<int, int> replaced; // a position's UUID -> the UUID that takes its place
    for (const auto& element : orderedSet.ordering().contents().element()) {
        const int key = uuidOf(element.key()), value = uuidOf(element.value());
        if (key >= 0 && value >= 0)
            replaced.insert(key, value);
    }
    QSet<int> elements;
    for (const auto& element : orderedSet.elements().element())
        if (const int key = uuidOf(element.key()); key >= 0)
            elements.insert(key);
    QSet<int> seen;
    const auto& places = orderedSet.ordering().array().attachment();
    for (int i = 0; i < places.size() && i < limit; ++i) {
        const auto found = m_uuidIndex.constFind(QByteArray::fromStdString(places.Get(i).uuid()));
        if (found == m_uuidIndex.constEnd())
            continue;
        const int id = replaced.value(*found, *found);
        if (!elements.contains(id) && !elements.contains(*found))
            continue;
        if (!seen.contains(id)) {
            seen.insert(id);
            order.push_back(id);
        }
    }
    return order;
}

std::optional<std::vector<QStringList>> tableRowsOf(const Document& document, QString& failure,
                                                    qint64 maxCells) {
    const N::MergeableDataObjectData& data = document.data();
    // The root: the map of type com.apple.notes.ICTable.
    const N::MergeableDataObjectMap* root = nullptr;
    for (const auto& object : data.mergeable_data_object_entry()) {
        if (!object.has_custom_map())
            continue;
        const int type = object.custom_map().type();
        if (type >= 0 && type < data.mergeable_data_object_type_item_size() &&
            data.mergeable_data_object_type_item(type) == "com.apple.notes.ICTable") {
            root = &object.custom_map();
            break;
        }
    }
    if (!root) {
        failure = QStringLiteral("its data holds no table");
        return std::nullopt;
    }
    const N::MergeableDataObjectEntry *rowsSet = nullptr, *columnsSet = nullptr, *cells = nullptr;
    bool rightToLeft = false;
    for (const auto& mapEntry : root->map_entry()) {
        const int key = mapEntry.key();
        if (key < 0 || key >= data.mergeable_data_object_key_item_size())
            continue;
        const std::string& name = data.mergeable_data_object_key_item(key);
        const auto* value = document.entry(mapEntry.value());
        if (name == "crRows")
            rowsSet = value;
        else if (name == "crColumns")
            columnsSet = value;
        else if (name == "cellColumns")
            cells = value;
        else if (name == "crTableColumnDirection" && value)
            rightToLeft = QByteArray::fromStdString(value->register_latest().contents().string_value())
                              .contains("RightToLeft");
    }
    const qint64 everyPlace = std::numeric_limits<qint64>::max();
    const std::vector<int> rowOrder = document.ordered(rowsSet, everyPlace),
                           columnOrder = document.ordered(columnsSet, everyPlace);
    if (qint64(rowOrder.size()) * qint64(columnOrder.size()) > maxCells) {
        failure = QStringLiteral("it has more than %1 cells").arg(maxCells);
        return std::nullopt;
    }
    // column -> row -> text
    QHash<int, QHash<int, QString>> texts;
    if (cells && cells->has_dictionary())
        for (const auto& column : cells->dictionary().element()) {
            const int columnId = document.uuidOf(column.key());
            const auto* rowsOfColumn = document.entry(column.value());
            if (columnId < 0 || !rowsOfColumn || !rowsOfColumn->has_dictionary())
                continue;
            for (const auto& cell : rowsOfColumn->dictionary().element()) {
                const int rowId = document.uuidOf(cell.key());
                const auto* note = document.entry(cell.value());
                if (rowId < 0 || !note || !note->has_note())
                    continue;
                QString text = QString::fromUtf8(note->note().note_text().data(),
                                                 qsizetype(note->note().note_text().size()));
                // One line per row: a cell's own lines go side by side.
                text.replace(u'\n', u' ');
                texts[columnId].insert(rowId, text.trimmed());
            }
        }
    std::vector<QStringList> rows;
    for (const int row : rowOrder) {
        QStringList line;
        for (const int column : columnOrder)
            line << texts.value(column).value(row);
        if (rightToLeft)
            std::reverse(line.begin(), line.end());
        rows.push_back(line);
    }
    return rows;
}

std::optional<QStringList> galleryPagesOf(const Document& document, QString& failure, qint64 maxPages) {
    const N::MergeableDataObjectData& data = document.data();
    // A gallery's document is one ordered set of its pages' UUIDs.
    const auto& entries = data.mergeable_data_object_entry();
    const auto set = std::find_if(entries.begin(), entries.end(),
                                  [](const N::MergeableDataObjectEntry& e) { return e.has_ordered_set(); });
    if (set == entries.end()) {
        failure = QStringLiteral("its data holds no list of pages");
        return std::nullopt;
    }
    QStringList pages;
    for (const int uuid : document.ordered(&*set, maxPages)) {
        const std::string& bytes = data.mergeable_data_object_uuid_item(uuid);
        if (bytes.size() != 16)
            continue; // no UUID can name a page
        pages << QUuid::fromRfc4122(QByteArrayView(bytes.data(), qsizetype(bytes.size())))
                     .toString(QUuid::WithoutBraces)
                     .toUpper();
    }
    return pages;
}

} // namespace

namespace ZNFNotesFolderReader {

std::optional<QString> noteText(const QByteArray& data, QString* failure,
                                const ZNFNotesFolderLimits& limits) {
    const std::optional<znf::notestore::Note> note = decodeNote(data, failure, limits);
    if (!note)
        return std::nullopt;
    return QString::fromUtf8(note->note_text().data(), qsizetype(note->note_text().size()));
}

ZNFNotesFolderReading read(const QString& folder,
                           const std::function<bool(QJsonObject record, QString text)>& take,
                           const ZNFNotesFolderLimits& limits,
                           const std::function<void(const QString& database)>& copied) {
    ZNFNotesFolderReading reading;
    if (!QFileInfo(folder).isDir()) {
        reading.failure = QStringLiteral("%1 is not a folder").arg(folder);
        return reading;
    }
    QString failure;
    const bool wasCopied = ZNFNotesStore::readCopyOfStore(
        folder,
        [&](const QString& database) {
            if (copied)
                copied(database);
            StoreReader(limits, reading, take).read(database);
        },
        &failure);
    if (!wasCopied)
        reading.failure =
            failure + QStringLiteral(": give the Notes folder copied from the Mac (group.com.apple.notes)");
    return reading;
}

std::optional<std::vector<QStringList>> tableRows(const QByteArray& data, QString* failure,
                                                  const ZNFNotesFolderLimits& limits) {
    QString reason;
    std::optional<std::vector<QStringList>> rows;
    if (const auto proto = decodeMergeable(data, reason, limits))
        rows = tableRowsOf(Document(proto->mergable_data_object().mergeable_data_object_data()), reason,
                           limits.tableCells);
    if (!rows && failure)
        *failure = reason;
    return rows;
}

std::optional<QStringList> galleryPages(const QByteArray& data, QString* failure,
                                        const ZNFNotesFolderLimits& limits) {
    QString reason;
    std::optional<QStringList> pages;
    if (const auto proto = decodeMergeable(data, reason, limits))
        pages = galleryPagesOf(Document(proto->mergable_data_object().mergeable_data_object_data()), reason,
                               limits.galleryPages);
    if (!pages && failure)
        *failure = reason;
    return pages;
}

ZNFNotesFolderReading read(const QString& folder, const ZNFNotesFolderLimits& limits) {
    QJsonArray notes;
    ZNFNotesFolderReading reading = read(
        folder,
        [&notes](QJsonObject record, QString text) {
            record.insert(ZNFNotesAppImporterKey_text, text);
            notes.append(std::move(record));
            return true;
        },
        limits);
    if (reading.failure.isEmpty())
        reading.notes = std::move(notes);
    return reading;
}

} // namespace ZNFNotesFolderReader
