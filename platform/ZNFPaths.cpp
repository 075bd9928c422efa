#include "platform/ZNFPaths.h"

#include <QDir>
#include <QStandardPaths>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace ZNFPaths {

QString homeDirectory() {
    return QDir::homePath();
}

QString cachesDirectory() {
#ifdef Q_OS_MACOS
    return QDir(homeDirectory()).filePath(QStringLiteral("Library/Caches"));
#else
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(xdg)))
        return QDir::cleanPath(QString::fromLocal8Bit(xdg));
    return QDir(homeDirectory()).filePath(QStringLiteral(".cache"));
#endif
}

QString iCloudDriveDirectory() {
    return QDir(homeDirectory()).filePath(QStringLiteral("Library/Mobile Documents/com~apple~CloudDocs"));
}

QString expandTilde(const QString& path) {
    if (path == "~"_L1)
        return homeDirectory();
    if (path.startsWith("~/"_L1))
        return homeDirectory() + path.mid(1);
    return path;
}

QString newUUIDString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace ZNFPaths
