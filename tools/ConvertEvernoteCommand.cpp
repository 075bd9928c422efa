#include "conversion/ZNFEvernoteImporter.h"
#include "tools/ZNFCommandLine.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

int ZNFRunConvertEvernote(const QStringList& arguments) {
    if (arguments.isEmpty())
        return ZNFCommandOutput::fail(QStringLiteral("convert evernote takes one or more .enex files"));
    for (const QString& path : arguments)
        if (!QFileInfo(path).isFile())
            return ZNFCommandOutput::fail(QStringLiteral("no such file: %1").arg(path));

    ZNFCommandOutput::progress(
        QStringLiteral("Converting the Evernote notes in %1...").arg(arguments.join(", "_L1)));
    return ZNFCommandOutput::runConversion(
        [arguments](const ZNFConversionProgressHandler& progress, const ZNFConversionCancelFlag& cancelled) {
            return ZNFEvernoteImporter::convert(arguments, progress, cancelled);
        });
}
