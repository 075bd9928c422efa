#include "platform/ZNFBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

ZNFBundle ZNFBundle::mainBundle() {
    const QString env = qEnvironmentVariable("NOTECRATE_RESOURCES");
    if (!env.isEmpty() && QFileInfo(env).isDir())
        return ZNFBundle(QDir::cleanPath(env));
    if (QCoreApplication::instance()) {
        const QString beside =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("resources"));
        if (QFileInfo(beside).isDir())
            return ZNFBundle(beside);
    }
#ifdef NOTECRATE_SOURCE_RESOURCES
    if (QFileInfo(QStringLiteral(NOTECRATE_SOURCE_RESOURCES)).isDir())
        return ZNFBundle(QStringLiteral(NOTECRATE_SOURCE_RESOURCES));
#endif
    return ZNFBundle(QString());
}

ZNFBundle ZNFBundle::bundleWithPath(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return ZNFBundle(QString());
    return ZNFBundle(path);
}

QString ZNFBundle::pathForResource(const QString& name, const QString& type) const {
    if (!isValid() || name.isEmpty())
        return {};
    const QString file = type.isEmpty() ? name : name + u'.' + type;
    const QString path = QDir(m_path).filePath(file);
    return QFileInfo::exists(path) ? path : QString();
}

QString ZNFLocalizedString(const char* key) {
    return QCoreApplication::translate("Localizable", key);
}

QUrl ZNFBundle::urlForImageResource(const QString& name) const {
    for (const char* folder : {"", "images/"})
        for (const char* type : {"png", "jpg", "jpeg"}) {
            const QString path = pathForResource(QLatin1String(folder) + name, QLatin1String(type));
            if (!path.isEmpty())
                return QUrl::fromLocalFile(path);
        }
    return {};
}
