#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

// The Notes app's own files, read only (the database is only ever opened as a copy).
inline constexpr QLatin1StringView ZNFNotesStore_containerPath{
    "~/Library/Group Containers/group.com.apple.notes"};
inline constexpr QLatin1StringView ZNFNotesStore_databaseFileName{"NoteStore.sqlite"};
inline constexpr QLatin1StringView ZNFNotesStore_sharedMemorySuffix{"-shm"};
inline constexpr QLatin1StringView ZNFNotesStore_writeAheadLogSuffix{"-wal"};
inline constexpr QLatin1StringView ZNFNotesStore_mediaFolderName{"Media"};
inline constexpr QLatin1StringView ZNFNotesStore_previewsFolderName{"Previews"};

// The table and columns that name each attachment.
inline constexpr QLatin1StringView ZNFNotesStore_query{"SELECT * FROM ZICCLOUDSYNCINGOBJECT"};
inline constexpr QLatin1StringView ZNFNotesStoreColumn_primaryKey{"Z_PK"};
inline constexpr QLatin1StringView ZNFNotesStoreColumn_identifier{"ZIDENTIFIER"};
inline constexpr QLatin1StringView ZNFNotesStoreColumn_type{"ZTYPEUTI"};

// The attachment types that carry an image.
inline constexpr QLatin1StringView ZNFNotesStoreType_sketch{"com.apple.notes.sketch"};
inline constexpr QLatin1StringView ZNFNotesStoreType_jpeg{"public.jpeg"};
inline constexpr QLatin1StringView ZNFNotesStoreType_png{"public.png"};

// One image attachment of the store.
struct ZNFNotesStoreAttachment {
    int primaryKey = 0;
    QString uuid; // names its "Media" folder and occurs in its preview file names
    QString type; // one of the three types above
};

// Primary key -> attachment.
using ZNFNotesStoreAttachmentMap = std::map<int, ZNFNotesStoreAttachment>;

// Lookups in a Notes folder: by default the Notes app's group container under the current
// HOME, or a copy of it given as `container`. Paths stand for the file URLs; an empty path
// stands for none. Safe to call from any thread.
namespace ZNFNotesStore {

QString containerPath();

// Copies the database and its "-shm" and "-wal" files from `container` into a new folder in
// the caches folder that only this user can open, calls `read` with the copy's database path
// and deletes the folder again (in every case). The container's files are only ever read.
// False, with the reason in `failure`, when there is no store or it could not be copied;
// `read` is then not called.
bool readCopyOfStore(const QString& container, const std::function<void(const QString& database)>& read,
                     QString* failure = nullptr);

// Reads a copy of the store (above). Empty when there is no store, when the copy cannot be
// opened or the table cannot be read.
std::optional<ZNFNotesStoreAttachmentMap> noteIdsByPrimaryKey(const QString& container = containerPath());

// The same from a copy readCopyOfStore() made, while it is there.
std::optional<ZNFNotesStoreAttachmentMap> attachmentsInCopy(const QString& database);

// The entries of "Previews" (hidden files skipped, no recursion), sorted by name so that two
// runs over the same files choose the same previews. Empty when the folder does not exist.
std::optional<QStringList> previewAssetURLs(const QString& container = containerPath());

// The first entry by name of "Media/<uuid>" (hidden files skipped); empty when the folder is
// missing or empty, or the uuid is not a usable file name.
QString urlForOriginalMedia(const QString& uuid, const QString& container = containerPath());

// Of the files whose name contains `uuid`, the first of the largest; a file of 0 bytes (or
// anything that is not a regular file) is never chosen.
QString largestAssetURLMatchingId(const QString& uuid, const QStringList& files);

// A store identifier that can name a file inside one folder: not empty, not "." or "..",
// without "/", "\" or NUL.
bool isUsableFileName(const QString& uuid);

} // namespace ZNFNotesStore
