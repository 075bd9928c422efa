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
    qint64 shown = 0;
    const ZNFConversionOutcome result =
        ZNFEvernoteImporter::convert(arguments, [&shown](qint64 done, qint64 total) {
            // The total grows as the files are read: a line per thousand notes.
            if (done - shown >= 1000) {
                ZNFCommandOutput::progress(QStringLiteral("%1 notes").arg(done));
                shown = done;
            }
            Q_UNUSED(total);
        });
    return ZNFCommandOutput::printConversion(result);
}
