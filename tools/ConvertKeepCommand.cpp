#include "conversion/ZNFKeepNoteImporter.h"
#include "tools/ZNFCommandLine.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

int ZNFRunConvertKeep(const QStringList& arguments) {
    if (arguments.isEmpty())
        return ZNFCommandOutput::fail(
            QStringLiteral("convert keep takes a Takeout archive (one or several parts) or folder"));
    for (const QString& path : arguments)
        if (!QFileInfo::exists(path))
            return ZNFCommandOutput::fail(QStringLiteral("no such file or folder: %1").arg(path));

    ZNFCommandOutput::progress(
        QStringLiteral("Converting the Google Keep notes in %1...").arg(arguments.join(", "_L1)));
    return ZNFCommandOutput::runConversion(
        [arguments](const ZNFConversionProgressHandler& progress, const ZNFConversionCancelFlag& cancelled) {
            return ZNFKeepNoteImporter::convert(arguments, progress, cancelled);
        });
}
