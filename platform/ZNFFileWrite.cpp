#include "platform/ZNFFileWrite.h"

#include "platform/ZNFPaths.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ZNFFileWrite {

bool moveIntoPlace(const QString& written, const QString& target, Existing existing, QString* error) {
    if (existing == Existing::Keep) {
        // QFile::rename never replaces an existing file.
        QFile file(written);
        if (file.rename(target))
            return true;
        if (error)
            *error = file.errorString();
        return false;
    }
    // rename(2) swaps the new file in with one step: there is no moment without a file, and
    // the old one is gone only when the new one is there. Never remove the target first.
    if (::rename(QFile::encodeName(written).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool copyIntoPlace(const QString& source, const QString& target, QString* error) {
    const QString partial = target + QStringLiteral(".partial-") + ZNFPaths::newUUIDString();
    QFile from(source);
    if (!from.copy(partial)) {
        if (error)
            *error = from.errorString();
        QFile::remove(partial);
        return false;
    }
    if (moveIntoPlace(partial, target, Existing::Replace, error))
        return true;
    QFile::remove(partial);
    return false;
}

} // namespace ZNFFileWrite
