#include "conversion/ZNFNotesAppImporter.h"
#include "tools/ZNFCommandLine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// A copied Notes folder, read on any system.
int convertFolder(const QString& folder) {
    ZNFCommandOutput::progress(QStringLiteral("Converting the notes in %1...").arg(folder));
    return ZNFCommandOutput::runConversion(
        [folder](const ZNFConversionProgressHandler&, const ZNFConversionCancelFlag&) {
            ZNFNotesAppImporter importer(folder);
            ZNFConversionOutcome outcome;
            importer.processFolder([&outcome](const ZNFConversionOutcome& o) { outcome = o; });
            return outcome;
        });
}

} // namespace

int ZNFRunConvertNotes(const QStringList& arguments) {
    if (arguments.size() == 2 && arguments.first() == "--from"_L1)
        return convertFolder(arguments.at(1));
    if (!arguments.isEmpty())
        return ZNFCommandOutput::fail(
            QStringLiteral("convert notes takes nothing, or --from DIR: a copied Notes folder"));
    if (!ZNFNotesAppImporter::canRunExportScript())
        return ZNFCommandOutput::fail(
            QStringLiteral("the Notes app's export needs osascript, which only macOS has; convert a copy of "
                           "the Mac's Notes folder with --from DIR"));
    auto importer = std::make_shared<ZNFNotesAppImporter>();
    QEventLoop loop;
    int status = 1;
    ZNFCommandOutput::progress(QStringLiteral("Exporting notes from the Notes app..."));
    importer->import([&](const ZNFConversionOutcome& outcome) {
        status = ZNFCommandOutput::printConversion(outcome);
        loop.quit();
    });
    loop.exec();
    return status;
}
