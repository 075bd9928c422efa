#pragma once

// Builds Google Takeout exports of Keep notes, as zips or folders, for the importer's tests and
// benchmark. Header-only, so the benchmark can use it without the test support library.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <utility>
#include <vector>
#include <zip.h>

namespace KeepTakeout {

// Member path -> bytes.
using Files = std::vector<std::pair<QString, QByteArray>>;

// A note's ".json" and ".html" pair under `folder` ("Takeout/Notizen").
inline void addNote(Files& files, const QString& folder, const QString& name, const QByteArray& json) {
    files.push_back({folder + u'/' + name + QStringLiteral(".json"), json});
    files.push_back({folder + u'/' + name + QStringLiteral(".html"), QByteArray("<html></html>")});
}

inline bool writeZip(const QString& path, const Files& files) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (const auto& [name, bytes] : files) {
        zip_fileinfo info{};
        info.tmz_date = {0, 0, 12, 1, 5, 2021}; // 1 June 2021, 12:00
        const QByteArray utf8 = name.toUtf8();
        ok = ok && zipOpenNewFileInZip4_64(zip, utf8.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                           Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                           Z_DEFAULT_STRATEGY, nullptr, 0, 0, 1u << 11, 0) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, bytes.constData(), unsigned(bytes.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

inline bool writeFolder(const QString& root, const Files& files) {
    bool ok = true;
    for (const auto& [name, bytes] : files) {
        const QString path = root + u'/' + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ok = ok && file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    }
    return ok;
}

} // namespace KeepTakeout
