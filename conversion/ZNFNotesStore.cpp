#include "conversion/ZNFNotesStore.h"

#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFTemporaryFiles.h"
#include "platform/ZNFPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

bool isImageType(const QString& type) {
    return type == ZNFNotesStoreType_sketch || type == ZNFNotesStoreType_jpeg ||
           type == ZNFNotesStoreType_png;
}

std::optional<ZNFNotesStoreAttachmentMap> readAttachments(const QString& databasePath) {
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
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, ZNFNotesStore_query.data(), int(ZNFNotesStore_query.size()), &statement,
                           nullptr) != SQLITE_OK) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: could not read the attachments: %1")
                   .arg(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return std::nullopt;
    }
    int primaryKeyColumn = -1, identifierColumn = -1, typeColumn = -1;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const QLatin1StringView name(sqlite3_column_name(statement, i));
        if (name == ZNFNotesStoreColumn_primaryKey)
            primaryKeyColumn = i;
        else if (name == ZNFNotesStoreColumn_identifier)
            identifierColumn = i;
        else if (name == ZNFNotesStoreColumn_type)
            typeColumn = i;
    }
    ZNFNotesStoreAttachmentMap map;
    if (primaryKeyColumn < 0 || identifierColumn < 0 || typeColumn < 0)
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes store: the attachment table lacks an expected column");
    else {
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            // A row without a key could only be found by records whose key reads as 0.
            if (sqlite3_column_type(statement, primaryKeyColumn) == SQLITE_NULL)
                continue;
            const QString identifier = textColumn(statement, identifierColumn);
            const QString type = textColumn(statement, typeColumn);
            if (identifier.isNull() || type.isNull() || !isImageType(type))
                continue;
            const int primaryKey = sqlite3_column_int(statement, primaryKeyColumn);
            map[primaryKey] = {primaryKey, identifier, type};
        }
        if (step != SQLITE_DONE)
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Notes store: reading the attachments stopped early: %1")
                       .arg(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    sqlite3_finalize(statement);
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

std::optional<ZNFNotesStoreAttachmentMap> attachmentsInCopy(const QString& database) {
    return readAttachments(database);
}

std::optional<ZNFNotesStoreAttachmentMap> noteIdsByPrimaryKey(const QString& container) {
    std::optional<ZNFNotesStoreAttachmentMap> map;
    readCopyOfStore(container, [&map](const QString& database) { map = readAttachments(database); });
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

} // namespace ZNFNotesStore
