#include "conversion/ZNFNotesAppImporter.h"
#include "tools/ZNFCommandLine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QStandardPaths>

int ZNFRunConvertNotes(const QStringList& arguments) {
    if (!arguments.isEmpty())
        return ZNFCommandOutput::fail(QStringLiteral("convert notes takes no arguments"));
    if (QStandardPaths::findExecutable(QStringLiteral("osascript")).isEmpty())
        return ZNFCommandOutput::fail(QStringLiteral(
            "the Notes app's export needs osascript, which only macOS has; try convert vesper"));
    auto importer = std::make_shared<ZNFNotesAppImporter>();
    QEventLoop loop;
    int status = 1;
    ZNFCommandOutput::progress(QStringLiteral("Exporting notes from the Notes app..."));
    importer->import([&](const QString& path, qint64 notes, qint64 attachments) {
        status = ZNFCommandOutput::printConversion(path, notes, attachments);
        loop.quit();
    });
    loop.exec();
    return status;
}
