#pragma once

#include <QImage>
#include <QJsonArray>
#include <QSizeF>
#include <QString>

// Keys and values of the archive's index, "entries.json".
inline constexpr const char* ZNFBackupEntryKey_entries = "entries";
inline constexpr const char* ZNFBackupEntryKey_kind = "kind";
inline constexpr const char* ZNFBackupEntryKey_state = "state";
inline constexpr const char* ZNFBackupEntryKey_identifier = "identifier";
inline constexpr const char* ZNFBackupEntryKey_body = "body";
inline constexpr const char* ZNFBackupEntryKey_date = "date";
inline constexpr const char* ZNFBackupEntryKey_updatedDate = "updatedDate";
inline constexpr const char* ZNFBackupEntryKey_parentId = "parentId";
inline constexpr const char* ZNFBackupEntryKey_binaryAttachmentId = "binaryAttachmentId";
inline constexpr const char* ZNFBackupEntryKey_userInfo = "userInfo";
inline constexpr const char* ZNFBackupEntryKind_note = "note";
inline constexpr const char* ZNFBackupEntryKind_image = "Image";
inline constexpr const char* ZNFBackupArchive_entriesFileName = "entries.json";
inline constexpr const char* ZNFBackupArchive_resourcesFolderName = "resources";
inline constexpr const char* ZNFBackupArchive_placeholderFileName = ".DS_Store";
inline constexpr const char* ZNFBackupArchive_extension = "notebackup";

// The steps both importers share to stage, index and zip one archive.
namespace ZNFBackupArchive {

// Makes "<caches>/<new UUID>/resources" (and the caches folder when it is missing).
// Returns the staging folder's path, or empty after logging what failed.
QString createStagingFolder();

// The staging folder's "resources" folder.
QString resourcesFolder(const QString& staging);

// Writes {"entries": entries} compactly to "entries.json", atomically.
bool writeEntries(const QString& staging, const QJsonArray& entries);

// Zips every file under `folder` into `archivePath`: names relative to the folder with "/",
// deflate at level -1, each with its file's date and permission bits, ".DS_Store" standing
// in for a folder without files. Written to a temporary name beside the archive and renamed
// into place, so the archive path never holds a half-written zip. False on any failure.
bool zipFolder(const QString& folder, const QString& archivePath);

// "<caches>/<fileName>".
QString archivePath(const QString& fileName);

// The end of every run: index, zip, delete staging. Returns the archive path, or empty
// (with a log line naming the step) when the archive could not be written whole.
// The staging folder is deleted in every case.
QString finish(const QString& staging, const QJsonArray& entries, const QString& archiveFileName);

// Deletes a folder and everything in it; failures are ignored.
void removeFolder(const QString& folder);

// PNG bytes of the image written to the file, not atomically. False when nothing was written.
bool writeImage(const QImage& image, const QString& file);

// {"width":W,"height":H} with the shortest decimal numbers.
QString userInfoForSize(const QSizeF& size);

} // namespace ZNFBackupArchive
