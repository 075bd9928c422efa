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
    qint64 shown = 0;
    const ZNFConversionOutcome result =
        ZNFVesperNoteImporter::convert(path, [&shown](qint64 done, qint64 total) {
            // A line per thousand notes is enough to show a large export is moving.
            if (done - shown >= 1000 || done == total) {
                ZNFCommandOutput::progress(QStringLiteral("%1 of %2 notes").arg(done).arg(total));
                shown = done;
            }
        });
    return ZNFCommandOutput::printConversion(result);
}
