#include "conversion/ZNFNotesStore.h"

#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFTemporaryFiles.h"
#include "platform/ZNFPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace ZNFNotesStore {

namespace {

QString textColumn(sqlite3_stmt* statement, int column) {
    if (column < 0 || sqlite3_column_type(statement, column) == SQLITE_NULL)
        return {};
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const int bytes = sqlite3_column_bytes(statement, column);
    return text ? QString::fromUtf8(text, bytes) : QString();
}

// The columns a table of the copy has, upper case; none when they cannot be listed.
QSet<QString> columnsOf(sqlite3* db, const char* table) {
    QSet<QString> columns;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?1)", -1, &statement, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(statement, 1, table, -1, SQLITE_STATIC);
        while (sqlite3_step(statement) == SQLITE_ROW)
            columns.insert(textColumn(statement, 0).toUpper());
    }
    sqlite3_finalize(statement);
    return columns;
}

// The entity number the store gives a name; nullopt when it names none.
std::optional<qint64> entityNumber(sqlite3* db, const char* name) {
    std::optional<qint64> number;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = ?1", -1, &statement, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(statement, 1, name, -1, SQLITE_STATIC);
        if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) == SQLITE_INTEGER)
            number = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return number;
}

// Columns differ between releases of the Notes app: a missing one reads as NULL.
QByteArray column(const QSet<QString>& columns, const char* alias, const QString& name) {
    if (!columns.contains(name))
        return "NULL";
    return QByteArray(alias) + ".\"" + name.toLatin1() + '"';
}

// A number or text as text: generations and identifiers are both in the store.
QString valueText(sqlite3_stmt* statement, int column) {
    const int type = sqlite3_column_type(statement, column);
    if (type == SQLITE_INTEGER)
        return QString::number(sqlite3_column_int64(statement, column));
    return type == SQLITE_TEXT ? textColumn(statement, column) : QString();
}

// The generation folders a media row may name, most likely first: ZGENERATION1 on current
// releases, ZGENERATION and the fallback generations on some.
QStringList generationColumns(const QSet<QString>& columns) {
    QStringList names;
    for (const QString& name : columns)
        if ((name.startsWith("ZGENERATION"_L1) || name.startsWith("ZFALLBACK"_L1)) &&
            name.contains("GENERATION"_L1) && !name.startsWith("ZFALLBACKIMAGE"_L1))
            names << name;
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        auto rank = [](const QString& n) {
            return n == "ZGENERATION1"_L1 ? 0 : n == "ZGENERATION"_L1 ? 1 : 2;
        };
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });
    return names;
}

void readPreviews(sqlite3* db, const QSet<QString>& columns, ZNFNotesStoreAttachmentMap& map) {
    const std::optional<qint64> entity = entityNumber(db, "ICAttachmentPreviewImage");
    const QString owner = columns.contains("ZATTACHMENT"_L1) ? "ZATTACHMENT"_L1 : "ZATTACHMENT1"_L1;
    if (!entity || !columns.contains(owner) || !columns.contains("Z_ENT"_L1))
        return;
    const QByteArray sql = "SELECT " + column(columns, "p", owner) + ", " +
                           column(columns, "p", "ZWIDTH"_L1) + ", " + column(columns, "p", "ZHEIGHT"_L1) +
                           ", " + column(columns, "p", "ZGENERATION"_L1) +
                           " FROM ZICCLOUDSYNCINGOBJECT AS p WHERE p.Z_ENT = ?1";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK) {
        qCWarning(lcConversion()).noquote() << QStringLiteral("Notes store: could not read the previews: %1")
                                                   .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(statement);
        return;
    }
    sqlite3_bind_int64(statement, 1, *entity);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto found = map.find(sqlite3_column_int(statement, 0));
        if (found == map.end())
            continue;
        std::vector<ZNFNotesStorePreview>& previews = found->second.previews;
        const int width = sqlite3_column_int(statement, 1), height = sqlite3_column_int(statement, 2);
        if (width <= 0 || height <= 0 || previews.size() >= size_t(ZNFNotesStore_maxPreviewsPerAttachment))
            continue;
        previews.push_back({width, height, valueText(statement, 3)});
    }
    sqlite3_finalize(statement);
    for (auto& [key, attachment] : map)
        std::stable_sort(attachment.previews.begin(), attachment.previews.end(),
                         [](const auto& a, const auto& b) {
                             return qint64(a.width) * a.height > qint64(b.width) * b.height;
                         });
}

std::optional<ZNFNotesStoreAttachmentMap> readAttachments(const QString& databasePath,
                                                          qint64 maxAttachments) {
    sqlite3* db = nullptr;
    // Read-write on our own copy so that SQLite can replay the copied write-ahead log; without
    // SQLITE_OPEN_CREATE a missing copy fails here instead of becoming an empty database.
    const int opened =
        sqlite3_open_v2(QFile::encodeName(databasePath).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (opened != SQLITE_OK) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: could not open the copy of the store: %1")
                   .arg(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(opened)));
        sqlite3_close(db);
        return std::nullopt;
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    const QSet<QString> c = columnsOf(db, "ZICCLOUDSYNCINGOBJECT");
    if (c.isEmpty()) {
        // No database, or no table of attachments at all.
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: could not read the attachments: %1")
                   .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_close(db);
        return std::nullopt;
    }
    const std::optional<qint64> attachmentEntity = entityNumber(db, "ICAttachment");
    const QStringList generations = generationColumns(c);
    // Each attachment with its media row and the account that owns its note's folder; joins on
    // a column that is missing join nothing.
    auto join = [&c](const char* alias, const char* key, const char* from, const char* reference) {
        const bool usable = c.contains(QLatin1StringView(reference)) && c.contains(QLatin1StringView(key));
        return QByteArray(" LEFT JOIN ZICCLOUDSYNCINGOBJECT AS ") + alias + " ON " +
               (usable ? QByteArray(alias) + '.' + key + " = " + from + '.' + reference : QByteArray("0"));
    };
    QByteArray sql = "SELECT " + column(c, "a", ZNFNotesStoreColumn_primaryKey) + ", " +
                     column(c, "a", ZNFNotesStoreColumn_identifier) + ", " +
                     column(c, "a", ZNFNotesStoreColumn_type) + ", " + column(c, "a", "ZTITLE"_L1) + ", " +
                     column(c, "a", "ZFALLBACKIMAGEGENERATION"_L1) + ", " +
                     column(c, "a", "ZPARENTATTACHMENT"_L1) + ", " + column(c, "m", "ZIDENTIFIER"_L1) + ", " +
                     column(c, "m", "ZFILENAME"_L1) + ", " + column(c, "o", "ZIDENTIFIER"_L1);
    // Only a gallery's data is loaded, and only within the limit (older releases: ZMERGEABLEDATA).
    const QByteArray mergeable =
        "COALESCE(" + column(c, "a", "ZMERGEABLEDATA1"_L1) + ", " + column(c, "a", "ZMERGEABLEDATA"_L1) + ")";
    sql += ", CASE WHEN " + column(c, "a", ZNFNotesStoreColumn_type) + " = '" +
           QByteArray(ZNFNotesStoreType_gallery.data(), ZNFNotesStoreType_gallery.size()) + "' AND length(" +
           mergeable + ") <= " + QByteArray::number(ZNFNotesStore_maxGalleryDataBytes) + " THEN " +
           mergeable + " END";
    for (const QString& generation : generations)
        sql += ", " + column(c, "m", generation);
    sql += " FROM ZICCLOUDSYNCINGOBJECT AS a" + join("m", "Z_PK", "a", "ZMEDIA") +
           join("n", "Z_PK", "a", "ZNOTE") + join("f", "Z_PK", "n", "ZFOLDER") +
           join("o", "Z_PK", "f", "ZOWNER");
    if (attachmentEntity && c.contains("Z_ENT"_L1))
        sql += " WHERE a.Z_ENT = " + QByteArray::number(*attachmentEntity);
    if (!c.contains(ZNFNotesStoreColumn_primaryKey) || !c.contains(ZNFNotesStoreColumn_identifier) ||
        !c.contains(ZNFNotesStoreColumn_type)) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: the attachment table lacks an expected column");
        sqlite3_close(db);
        return ZNFNotesStoreAttachmentMap();
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement, nullptr) != SQLITE_OK) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: could not read the attachments: %1")
                   .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return std::nullopt;
    }
    ZNFNotesStoreAttachmentMap map;
    qint64 skipped = 0;
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        // A row without a key could only be found by records whose key reads as 0.
        if (sqlite3_column_type(statement, 0) == SQLITE_NULL)
            continue;
        const QString identifier = textColumn(statement, 1);
        const QString type = textColumn(statement, 2);
        if (identifier.isNull() || type.isNull())
            continue;
        if (qint64(map.size()) >= maxAttachments) {
            ++skipped;
            continue;
        }
        const int primaryKey = sqlite3_column_int(statement, 0);
        ZNFNotesStoreAttachment attachment;
        attachment.primaryKey = primaryKey;
        attachment.uuid = identifier;
        attachment.type = type;
        attachment.title = textColumn(statement, 3);
        attachment.fallbackImageGeneration = valueText(statement, 4);
        attachment.parent = sqlite3_column_int(statement, 5);
        attachment.media = textColumn(statement, 6);
        attachment.fileName = textColumn(statement, 7);
        attachment.account = textColumn(statement, 8);
        if (sqlite3_column_type(statement, 9) == SQLITE_BLOB)
            attachment.galleryData = QByteArray(static_cast<const char*>(sqlite3_column_blob(statement, 9)),
                                                sqlite3_column_bytes(statement, 9));
        for (int i = 0; i < generations.size(); ++i)
            if (const QString generation = valueText(statement, 10 + i); !generation.isEmpty())
                attachment.mediaGenerations << generation;
        map[primaryKey] = std::move(attachment);
    }
    if (step != SQLITE_DONE)
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: reading the attachments stopped early: %1")
                   .arg(QString::fromUtf8(sqlite3_errmsg(db)));
    if (skipped)
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: %1 attachments past the limit of %2 not read")
                   .arg(QString::number(skipped), QString::number(maxAttachments));
    sqlite3_finalize(statement);
    // A gallery's pages need not name a note: their files are in the gallery's account.
    for (auto& [key, attachment] : map)
        if (attachment.account.isEmpty() && attachment.parent != 0)
            if (const auto parent = map.find(attachment.parent); parent != map.end())
                attachment.account = parent->second.account;
    readPreviews(db, c, map);
    sqlite3_close(db);
    return map;
}

QFileInfoList listFolder(const QString& folder) {
    // Sorted so that the choice among files does not depend on the file system's order.
    return QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

QString containerPath() {
    return ZNFPaths::expandTilde(ZNFNotesStore_containerPath);
}

bool readCopyOfStore(const QString& container, const std::function<void(const QString& database)>& read,
                     QString* failure) {
    const QDir source(container);
    const QString database = ZNFNotesStore_databaseFileName;
    auto fail = [failure](const QString& reason) {
        if (failure)
            *failure = reason;
        return false;
    };
    if (!QFileInfo::exists(source.filePath(database)))
        return fail(QStringLiteral("there is no %1 in %2").arg(database, container));

    // The copy holds the user's notes: no other user of this machine may read it, its folder is
    // marked as ours so that a later run removes it if this one dies, and it is watched so that
    // an interruption removes it.
    const QString temporary = ZNFTemporaryFiles::createFolder();
    if (temporary.isEmpty()) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: could not create a folder for the copy of the store in %1")
                   .arg(ZNFPaths::cachesDirectory());
        return fail(QStringLiteral("could not create a folder for a copy of the store in %1")
                        .arg(ZNFPaths::cachesDirectory()));
    }
    QFile::setPermissions(temporary,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QStringList copies{database, database + ZNFNotesStore_sharedMemorySuffix,
                             database + ZNFNotesStore_writeAheadLogSuffix};
    const ZNFTemporaryFiles::Guard guard(temporary,
                                         copies + QStringList{database + QStringLiteral("-journal")});
    for (const QString& name : copies) {
        // A missing "-shm" or "-wal" is normal. The copies are writable even when the originals
        // are not (a backup, a read-only medium): SQLite replays the write-ahead log into them.
        const QString copy = QDir(temporary).filePath(name);
        if (QFile::copy(source.filePath(name), copy))
            QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    if (!QFileInfo::exists(QDir(temporary).filePath(database))) {
        QDir(temporary).removeRecursively();
        return fail(QStringLiteral("could not copy %1 into %2").arg(source.filePath(database), temporary));
    }
    read(QDir(temporary).filePath(database));
    // Never left behind, also when it could not be read.
    QDir(temporary).removeRecursively();
    return true;
}

std::optional<ZNFNotesStoreAttachmentMap> attachmentsInCopy(const QString& database, qint64 maxAttachments) {
    return readAttachments(database, maxAttachments);
}

std::optional<ZNFNotesStoreAttachmentMap> noteIdsByPrimaryKey(const QString& container) {
    std::optional<ZNFNotesStoreAttachmentMap> map;
    readCopyOfStore(container, [&map](const QString& database) {
        map = readAttachments(database, ZNFNotesStore_maxAttachments);
    });
    return map;
}

std::optional<QStringList> previewAssetURLs(const QString& container) {
    const QString folder = QDir(container).filePath(ZNFNotesStore_previewsFolderName);
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    QStringList paths;
    for (const QFileInfo& entry : listFolder(folder))
        paths << entry.filePath();
    return paths;
}

QString urlForOriginalMedia(const QString& uuid, const QString& container) {
    if (!isUsableFileName(uuid))
        return {};
    const QString folder = QDir(container).filePath(ZNFNotesStore_mediaFolderName + u'/' + uuid);
    const QFileInfoList entries = listFolder(folder);
    return entries.isEmpty() ? QString() : entries.first().filePath();
}

QString largestAssetURLMatchingId(const QString& uuid, const QStringList& files) {
    QString chosen;
    qint64 largest = 0;
    for (const QString& file : files) {
        const qsizetype slash = file.lastIndexOf(u'/');
        if (!QStringView(file).mid(slash + 1).contains(uuid))
            continue;
        const QFileInfo info(file);
        if (!info.isFile())
            continue;
        if (info.size() > largest) {
            largest = info.size();
            chosen = file;
        }
    }
    return chosen;
}

bool isUsableFileName(const QString& uuid) {
    return !uuid.isEmpty() && uuid != "."_L1 && uuid != ".."_L1 && !uuid.contains(u'/') &&
           !uuid.contains(u'\\') && !uuid.contains(QChar(0));
}

ZNFNotesStoreKind kindOf(const QString& type) {
    static const QSet<QString> pictures{
        ZNFNotesStoreType_jpeg, ZNFNotesStoreType_png, ZNFNotesStoreType_heic, ZNFNotesStoreType_heif,
        ZNFNotesStoreType_tiff, ZNFNotesStoreType_gif, ZNFNotesStoreType_webp};
    static const QSet<QString> drawings{ZNFNotesStoreType_drawing, ZNFNotesStoreType_drawing2,
                                        ZNFNotesStoreType_paper};
    if (pictures.contains(type))
        return ZNFNotesStoreKind::Picture;
    if (type == ZNFNotesStoreType_sketch)
        return ZNFNotesStoreKind::Sketch;
    if (drawings.contains(type))
        return ZNFNotesStoreKind::Drawing;
    if (type == ZNFNotesStoreType_gallery)
        return ZNFNotesStoreKind::Gallery;
    if (type == ZNFNotesStoreType_table || type == ZNFNotesStoreType_url)
        return ZNFNotesStoreKind::Text;
    if (type == ZNFNotesStoreType_pdf)
        return ZNFNotesStoreKind::PDF;
    // Uniform type identifiers of recordings and films: public.audio, public.mp3,
    // com.apple.m4a-audio, public.movie, public.mpeg-4, com.apple.quicktime-movie...
    if (type.contains("audio"_L1) || type == "public.mp3"_L1)
        return ZNFNotesStoreKind::Audio;
    if (type.contains("movie"_L1) || type.contains("video"_L1) || type == "public.mpeg-4"_L1 ||
        type == "public.avi"_L1)
        return ZNFNotesStoreKind::Video;
    return ZNFNotesStoreKind::File;
}

std::vector<ZNFNotesStorePictureFile> pictureFiles(const ZNFNotesStoreAttachment& attachment,
                                                   const QString& container,
                                                   const QStringList& topLevelPreviews) {
    std::vector<ZNFNotesStorePictureFile> files;
    const ZNFNotesStoreKind kind = kindOf(attachment.type);
    if (kind == ZNFNotesStoreKind::Gallery || kind == ZNFNotesStoreKind::Text ||
        kind == ZNFNotesStoreKind::PDF || kind == ZNFNotesStoreKind::Audio ||
        kind == ZNFNotesStoreKind::Video)
        return files;
    auto add = [&files](const QString& path, bool preview) {
        if (std::none_of(files.begin(), files.end(), [&](const auto& f) { return f.path == path; }) &&
            QFileInfo(path).isFile())
            files.push_back({path, preview});
    };
    // Every name that becomes a path component comes from the store: one that could leave its
    // folder names nothing.
    const QString& id = attachment.uuid;
    if (!isUsableFileName(id))
        return files;
    QStringList bases;
    if (isUsableFileName(attachment.account))
        bases << QDir(container).filePath(ZNFNotesStore_accountsFolderName + u'/' + attachment.account);
    bases << container;

    for (const QString& base : bases) {
        if (kind == ZNFNotesStoreKind::Picture && isUsableFileName(attachment.media) &&
            isUsableFileName(attachment.fileName)) {
            const QString media = base + u'/' + ZNFNotesStore_mediaFolderName + u'/' + attachment.media;
            for (const QString& generation : attachment.mediaGenerations)
                if (isUsableFileName(generation))
                    add(media + u'/' + generation + u'/' + attachment.fileName, false);
            add(media + u'/' + attachment.fileName, false); // before macOS 13: no generation folder
        }
        if (kind == ZNFNotesStoreKind::Drawing) {
            const QString fallback = base + u'/' + ZNFNotesStore_fallbackImagesFolderName + u'/' + id;
            if (isUsableFileName(attachment.fallbackImageGeneration))
                add(fallback + u'/' + attachment.fallbackImageGeneration + "/FallbackImage.png"_L1, false);
            add(fallback + ".jpg"_L1, false);
            add(fallback + ".png"_L1, false);
        }
    }
    if (kind == ZNFNotesStoreKind::Picture) {
        const QString old = urlForOriginalMedia(id, container);
        if (!old.isEmpty())
            add(old, false);
    }

    for (const QString& base : bases)
        for (const ZNFNotesStorePreview& preview : attachment.previews) {
            const QString name = QStringLiteral("%1/%2/%3-1-%4x%5-0")
                                     .arg(base, ZNFNotesStore_previewsFolderName, id)
                                     .arg(preview.width)
                                     .arg(preview.height);
            if (isUsableFileName(preview.generation)) {
                add(name + u'/' + preview.generation + "/OrientedPreview.jpeg"_L1, true);
                add(name + u'/' + preview.generation + "/Preview.png"_L1, true);
            }
            add(name + ".png"_L1, true);
            add(name + ".jpeg"_L1, true);
        }
    const QString largest = largestAssetURLMatchingId(id, topLevelPreviews);
    if (!largest.isEmpty())
        add(largest, true);
    return files;
}

} // namespace ZNFNotesStore
