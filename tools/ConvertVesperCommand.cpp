#include "conversion/ZNFVesperNoteImporter.h"
#include "tools/ZNFCommandLine.h"

#include <QFileInfo>

int ZNFRunConvertVesper(const QStringList& arguments) {
    if (arguments.size() != 1)
        return ZNFCommandOutput::fail(
            QStringLiteral("convert vesper takes one PATH: the export folder or a file in it"));
    const QString path = arguments.first();
    if (!QFileInfo::exists(path))
        return ZNFCommandOutput::fail(QStringLiteral("no such file or folder: %1").arg(path));

    ZNFCommandOutput::progress(QStringLiteral("Converting the Vesper export at %1...").arg(path));
    return ZNFCommandOutput::runConversion(
        [path](const ZNFConversionProgressHandler& progress, const ZNFConversionCancelFlag& cancelled) {
            return ZNFVesperNoteImporter::convert(path, progress, cancelled);
        });
}
