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
    qint64 shown = 0;
    const ZNFConversionOutcome result =
        ZNFKeepNoteImporter::convert(arguments, [&shown](qint64 done, qint64 total) {
            // A line per thousand notes is enough to show a large export is moving.
            if (done - shown >= 1000 || done == total) {
                ZNFCommandOutput::progress(QStringLiteral("%1 of %2 notes").arg(done).arg(total));
                shown = done;
            }
        });
    return ZNFCommandOutput::printConversion(result);
}
