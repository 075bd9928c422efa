#pragma once

// Archives as a reader may meet them: well made, damaged or hostile. Header-only, like the
// Takeout builder it extends.

#include "keep_takeout.h"

#include <QByteArray>
#include <QString>
#include <zip.h>
#include <zlib.h>

namespace BackupArchives {

// An archive of `index` as its entries.json, with the placeholder beside it.
inline bool write(const QString& path, const QByteArray& index) {
    return KeepTakeout::writeZip(path, {{"entries.json", index}, {"resources/.DS_Store", {}}});
}

// A zip whose one member `name` says it inflates to `declaredSize` bytes, whatever it holds.
inline bool writeLyingSize(const QString& path, const QString& name, const QByteArray& bytes,
                           qint64 declaredSize) {
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    zip_fileinfo info{};
    info.tmz_date = {0, 0, 12, 1, 5, 2021};
    const QByteArray utf8 = name.toUtf8();
    bool ok = zipOpenNewFileInZip4_64(zip, utf8.constData(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 1,
                                      -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0, 1u << 11,
                                      1) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, bytes.constData(), unsigned(bytes.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZipRaw64(
                   zip, ZPOS64_T(declaredSize),
                   crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size()))) == ZIP_OK;
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

} // namespace BackupArchives
