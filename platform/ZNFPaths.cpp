#include "platform/ZNFPaths.h"

#include <QDir>
#include <QStandardPaths>
#include <QUuid>

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
    if (path == QLatin1String("~"))
        return homeDirectory();
    if (path.startsWith(QLatin1String("~/")))
        return homeDirectory() + path.mid(1);
    return path;
}

QString newUUIDString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace ZNFPaths
