#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The Notes app's own files, read only (the database is only ever opened as a copy).
inline constexpr QLatin1StringView ZNFNotesStore_containerPath{
    "~/Library/Group Containers/group.com.apple.notes"};
inline constexpr QLatin1StringView ZNFNotesStore_databaseFileName{"NoteStore.sqlite"};
inline constexpr QLatin1StringView ZNFNotesStore_sharedMemorySuffix{"-shm"};
inline constexpr QLatin1StringView ZNFNotesStore_writeAheadLogSuffix{"-wal"};
inline constexpr QLatin1StringView ZNFNotesStore_mediaFolderName{"Media"};
inline constexpr QLatin1StringView ZNFNotesStore_previewsFolderName{"Previews"};

// The columns that name each attachment (of ZICCLOUDSYNCINGOBJECT); the others it may have
// are looked up by name too, and read as missing where a release lacks them.
inline constexpr QLatin1StringView ZNFNotesStoreColumn_primaryKey{"Z_PK"};
inline constexpr QLatin1StringView ZNFNotesStoreColumn_identifier{"ZIDENTIFIER"};
inline constexpr QLatin1StringView ZNFNotesStoreColumn_type{"ZTYPEUTI"};

// Current releases keep each account's files in a folder of its own, named by the account's
// identifier; the top-level "Media", "Previews" and "FallbackImages" remain from old releases.
inline constexpr QLatin1StringView ZNFNotesStore_accountsFolderName{"Accounts"};
inline constexpr QLatin1StringView ZNFNotesStore_fallbackImagesFolderName{"FallbackImages"};

// A store names at most this many attachments, and an attachment this many previews; the rest
// are not read.
inline constexpr qint64 ZNFNotesStore_maxAttachments = 200000;
inline constexpr int ZNFNotesStore_maxPreviewsPerAttachment = 32;
// A gallery's list of pages larger than this is not read: its pages come in the store's order.
inline constexpr qint64 ZNFNotesStore_maxGalleryDataBytes = 1LL << 20;

// Attachment types. Pictures are decoded; drawings and galleries are pictures of their own
// kind; the rest of the types the archive can carry only as a preview, when there is one.
inline constexpr QLatin1StringView ZNFNotesStoreType_sketch{"com.apple.notes.sketch"};
inline constexpr QLatin1StringView ZNFNotesStoreType_jpeg{"public.jpeg"};
inline constexpr QLatin1StringView ZNFNotesStoreType_png{"public.png"};
inline constexpr QLatin1StringView ZNFNotesStoreType_heic{"public.heic"};
inline constexpr QLatin1StringView ZNFNotesStoreType_heif{"public.heif"};
inline constexpr QLatin1StringView ZNFNotesStoreType_tiff{"public.tiff"};
inline constexpr QLatin1StringView ZNFNotesStoreType_gif{"com.compuserve.gif"};
inline constexpr QLatin1StringView ZNFNotesStoreType_webp{"org.webmproject.webp"};
inline constexpr QLatin1StringView ZNFNotesStoreType_drawing{"com.apple.drawing"};
inline constexpr QLatin1StringView ZNFNotesStoreType_drawing2{"com.apple.drawing.2"};
inline constexpr QLatin1StringView ZNFNotesStoreType_paper{"com.apple.paper"};
inline constexpr QLatin1StringView ZNFNotesStoreType_gallery{"com.apple.notes.gallery"};
inline constexpr QLatin1StringView ZNFNotesStoreType_table{"com.apple.notes.table"};
inline constexpr QLatin1StringView ZNFNotesStoreType_url{"public.url"};
inline constexpr QLatin1StringView ZNFNotesStoreType_pdf{"com.adobe.pdf"};

// What the conversion makes of an attachment of a type.
enum class ZNFNotesStoreKind {
    Picture, // a picture file of its own (JPEG, PNG, HEIC, TIFF, GIF, WebP)
    Sketch,  // the old sketches: a preview that lies on its side
    Drawing, // a fallback image the Notes app renders
    Gallery, // scanned pages: each page is a child attachment
    Text,    // tables and URL cards become text of the note
    PDF,
    Audio,
    Video,
    File, // anything else: only a preview of it can be carried
};

// A preview row of the store: the file is "<attachment id>-1-<W>x<H>-0", flat or in a
// generation folder.
struct ZNFNotesStorePreview {
    int width = 0;
    int height = 0;
    QString generation;
};

// One attachment of the store.
struct ZNFNotesStoreAttachment {
    int primaryKey = 0;
    QString uuid; // occurs in its preview and fallback image file names ("Media/<uuid>" on old releases)
    QString type;
    QString title;                // the name it shows, when the store has one
    QString account;              // the identifier of the account whose folder it is in; empty when unknown
    QString media;                // the identifier of its media row: names "Media/<media>"; empty when none
    QString fileName;             // the media row's file name
    QStringList mediaGenerations; // generation folders of the media file, most likely first
    QString fallbackImageGeneration;            // of a drawing's fallback image
    int parent = 0;                             // the gallery it is a page of; 0 when none
    QByteArray galleryData;                     // a gallery's gzip'd list of its pages; empty when none
    std::vector<ZNFNotesStorePreview> previews; // largest first
};

// A file that may hold an attachment's picture.
struct ZNFNotesStorePictureFile {
    QString path;
    bool isPreview = false;
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
std::optional<ZNFNotesStoreAttachmentMap>
attachmentsInCopy(const QString& database, qint64 maxAttachments = ZNFNotesStore_maxAttachments);

ZNFNotesStoreKind kindOf(const QString& type);

// The files that may hold the attachment's picture, in the order they are tried: full-size
// files (the account's folder, then the top-level folders, then "Media/<uuid>" of old
// releases), then previews, largest first (the account's, the top-level ones, then the
// largest of `topLevelPreviews`, the listing of the top-level "Previews"). A preview is only
// reached when no full-size file could be read, so a picture never comes twice.
std::vector<ZNFNotesStorePictureFile> pictureFiles(const ZNFNotesStoreAttachment& attachment,
                                                   const QString& container,
                                                   const QStringList& topLevelPreviews);

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
