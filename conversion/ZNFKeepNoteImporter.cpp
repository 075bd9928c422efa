#include "conversion/ZNFKeepNoteImporter.h"

ZNFConversionOutcome ZNFKeepNoteImporter::convert(const QStringList& paths,
                                                  const ZNFConversionProgressHandler& progress,
                                                  const ZNFConversionCancelFlag& cancelled) {
    Q_UNUSED(progress);
    Q_UNUSED(cancelled);
    ZNFConversionOutcome result;
    result.failure = paths.isEmpty() ? QStringLiteral("no Takeout file or folder was chosen")
                                     : QStringLiteral("Keep exports cannot be converted yet");
    return result;
}

std::optional<ZNFKeepNoteImporter::Note>
ZNFKeepNoteImporter::parseNote(const QByteArray& json, const QString& fileName, const ZNFDate& fileModified) {
    Q_UNUSED(json);
    Q_UNUSED(fileName);
    Q_UNUSED(fileModified);
    return std::nullopt;
}
