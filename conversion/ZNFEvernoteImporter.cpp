#include "conversion/ZNFEvernoteImporter.h"

ZNFConversionOutcome ZNFEvernoteImporter::convert(const QStringList& enexFiles,
                                                  const ZNFConversionProgressHandler& progress,
                                                  const ZNFConversionCancelFlag& cancelled) {
    Q_UNUSED(progress);
    Q_UNUSED(cancelled);
    ZNFConversionOutcome result;
    result.failure = enexFiles.isEmpty() ? QStringLiteral("no .enex file was chosen")
                                         : QStringLiteral("Evernote files cannot be converted yet");
    return result;
}

QString ZNFEvernoteImporter::enmlToText(const QString& enml, std::vector<Media>* media) {
    Q_UNUSED(media);
    return enml;
}
