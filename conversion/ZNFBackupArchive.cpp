#include "conversion/ZNFBackupArchive.h"

#include "platform/ZNFImage.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFNumberFormat.h"
#include "platform/ZNFPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

namespace ZNFBackupArchive {

QString createStagingFolder() {
    const QString caches = ZNFPaths::cachesDirectory();
    if (!QDir().mkpath(caches)) {
        ZNFLogf("Backup archive: could not create the caches folder %@", caches);
        return {};
    }
    const QString staging = QDir(caches).filePath(ZNFPaths::newUUIDString());
    if (!QDir().mkdir(staging) || !QDir().mkpath(resourcesFolder(staging))) {
        ZNFLogf("Backup archive: could not create the staging folder %@", staging);
        removeFolder(staging);
        return {};
    }
    return staging;
}

QString resourcesFolder(const QString& staging) {
    return QDir(staging).filePath(QLatin1String(ZNFBackupArchive_resourcesFolderName));
}

bool writeEntries(const QString& staging, const QJsonArray& entries) {
    QJsonObject index;
    index.insert(QLatin1String(ZNFBackupEntryKey_entries), entries);
    QSaveFile file(QDir(staging).filePath(QLatin1String(ZNFBackupArchive_entriesFileName)));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(index).toJson(QJsonDocument::Compact));
    return file.commit();
}

namespace {

struct FileToZip {
    QString entryName;
    QString path; // empty for the placeholder
};

// Depth-first, names sorted, so the same folder always gives the same zip.
bool collect(const QString& root, const QString& folder, std::vector<FileToZip>& out) {
    const QDir dir(folder);
    const QFileInfoList children =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                          QDir::Name | QDir::DirsLast);
    const size_t before = out.size();
    for (const QFileInfo& child : children) {
        if (child.isSymLink())
            continue; // never follow links out of the staging folder
        if (child.isDir())
            collect(root, child.filePath(), out);
        else if (child.isFile())
            out.push_back({QDir(root).relativeFilePath(child.filePath()), child.filePath()});
    }
    if (out.size() == before && folder != root)
        out.push_back(
            {QDir(root).relativeFilePath(folder) + u'/' + QLatin1String(ZNFBackupArchive_placeholderFileName),
             QString()});
    return true;
}

zip_fileinfo fileInfoFor(const QString& path) {
    zip_fileinfo info{};
    QDateTime modified = QDateTime::currentDateTime();
    unsigned long mode = 0100644;
    if (!path.isEmpty()) {
        struct stat st {};
        if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
            mode = st.st_mode;
            modified = QDateTime::fromSecsSinceEpoch(st.st_mtime);
        }
    }
    const QDate d = modified.date();
    const QTime t = modified.time();
    // DOS dates cannot hold years before 1980.
    info.tmz_date.tm_year = static_cast<uInt>(std::max(d.year(), 1980));
    info.tmz_date.tm_mon = static_cast<uInt>(d.month() - 1);
    info.tmz_date.tm_mday = static_cast<uInt>(d.day());
    info.tmz_date.tm_hour = static_cast<uInt>(t.hour());
    info.tmz_date.tm_min = static_cast<uInt>(t.minute());
    info.tmz_date.tm_sec = static_cast<uInt>(t.second());
    info.external_fa = (mode & 0xFFFF) << 16;
    return info;
}

bool addEntry(zipFile zf, const FileToZip& file, QByteArray& buffer) {
    const zip_fileinfo info = fileInfoFor(file.path);
    const QByteArray name = file.entryName.toUtf8();
    QFile in(file.path);
    qint64 size = 0;
    if (!file.path.isEmpty()) {
        if (!in.open(QIODevice::ReadOnly))
            return false;
        size = in.size();
    }
    const int zip64 = size >= 0xFFFFFFFFLL ? 1 : 0;
    // Made by Unix (3 << 8) so that readers honour the permission bits; UTF-8 names flagged.
    if (zipOpenNewFileInZip4_64(zf, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                nullptr, 0, (3 << 8) | 20, 1 << 11, zip64) != ZIP_OK)
        return false;
    bool ok = true;
    if (!file.path.isEmpty()) {
        for (;;) {
            const qint64 n = in.read(buffer.data(), buffer.size());
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0)
                break;
            if (zipWriteInFileInZip(zf, buffer.constData(), static_cast<unsigned>(n)) != ZIP_OK) {
                ok = false;
                break;
            }
        }
    }
    return zipCloseFileInZip(zf) == ZIP_OK && ok;
}

} // namespace

bool zipFolder(const QString& folder, const QString& archive) {
    std::vector<FileToZip> files;
    if (!QFileInfo(folder).isDir())
        return false;
    collect(folder, folder, files);

    const QString temporary = archive + QStringLiteral(".partial-") + ZNFPaths::newUUIDString();
    zipFile zf = zipOpen64(QFile::encodeName(temporary).constData(), APPEND_STATUS_CREATE);
    if (!zf)
        return false;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    bool ok = true;
    for (const auto& file : files) {
        if (!addEntry(zf, file, buffer)) {
            ZNFLogf("Backup archive: could not add %@ to the archive", file.entryName);
            ok = false;
            break;
        }
    }
    if (zipClose(zf, nullptr) != ZIP_OK)
        ok = false;
    if (ok) {
        // rename(2) replaces an existing archive in one step.
        ok = ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(archive).constData()) == 0;
    }
    if (!ok)
        QFile::remove(temporary);
    return ok;
}

QString archivePath(const QString& fileName) {
    return QDir(ZNFPaths::cachesDirectory()).filePath(fileName);
}

QString finish(const QString& staging, const QJsonArray& entries, const QString& archiveFileName) {
    const QString archive = archivePath(archiveFileName);
    QString result;
    if (!writeEntries(staging, entries))
        ZNFLogf("Backup archive: could not write %@ in %@", QLatin1String(ZNFBackupArchive_entriesFileName),
                staging);
    else if (!zipFolder(staging, archive))
        ZNFLogf("Backup archive: could not write the archive %@", archive);
    else
        result = archive;
    removeFolder(staging);
    return result;
}

void removeFolder(const QString& folder) {
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

bool writeImage(const QImage& image, const QString& file) {
    return ZNFImage::writePNG(image, file);
}

QString userInfoForSize(const QSizeF& size) {
    return QStringLiteral("{\"width\":%1,\"height\":%2}")
        .arg(ZNFShortestNumber(size.width()), ZNFShortestNumber(size.height()));
}

} // namespace ZNFBackupArchive
