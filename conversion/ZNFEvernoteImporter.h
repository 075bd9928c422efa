#pragma once

#include "conversion/ZNFConversionOutcome.h"

#include <QString>
#include <QStringList>

inline constexpr QLatin1StringView ZNFEvernoteImporter_archiveName{"Evernote_to_Tessanote.notebackup"};

// Limits on what an .enex file may make this read: a note's ENML, one resource's base64 data,
// elements nested in a note, and notes in all files.
inline constexpr qint64 ZNFEvernoteImporter_maxContentBytes = 64LL * 1024 * 1024;
inline constexpr qint64 ZNFEvernoteImporter_maxResourceBytes = 256LL * 1024 * 1024;
inline constexpr int ZNFEvernoteImporter_maxDepth = 256;
inline constexpr qint64 ZNFEvernoteImporter_maxNotes = 1000000;

// Converts Evernote export files (.enex, one per notebook) into one backup archive, streaming:
// memory does not grow with the size of a file or the number of notes.
class ZNFEvernoteImporter {
public:
    static ZNFConversionOutcome convert(const QStringList& enexFiles,
                                        const ZNFConversionProgressHandler& progress = {},
                                        const ZNFConversionCancelFlag& cancelled = {});

    // ENML as plain text. Each <en-media> becomes U+FFFC when `isPicture(hash)` says it is
    // one of the note's pictures, else the name `nameOf(hash)` gives it (a placeholder line).
    struct Media {
        QString hash;
        bool picture = false;
    };
    static QString enmlToText(const QString& enml, std::vector<Media>* media = nullptr);
};
