#pragma once

#include "conversion/ZNFConversionOutcome.h"
#include "conversion/ZNFImportedNoteWriter.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

inline constexpr QLatin1StringView ZNFKeepNoteImporter_archiveName{"Keep_to_Tessanote.notebackup"};

// Limits on what a Takeout export may make this read. An export (a zip, or a folder) with more
// entries than this
// is not read at all; a note's JSON past its limit is left out as unreadable; past the total,
// the remaining notes are left out as over the limit.
inline constexpr qint64 ZNFKeepNoteImporter_maxEntries = 500000;
inline constexpr qint64 ZNFKeepNoteImporter_maxNoteJSONBytes = 16LL * 1024 * 1024;
inline constexpr qint64 ZNFKeepNoteImporter_maxTotalBytes = 8LL * 1024 * 1024 * 1024;
// An attachment larger than this is not a picture Keep made; it is left out.
inline constexpr qint64 ZNFKeepNoteImporter_maxAttachmentBytes = 256LL * 1024 * 1024;
// How deep a chosen folder is searched for the Keep folder.
inline constexpr int ZNFKeepNoteImporter_maxFolderDepth = 8;

// Converts Google Keep notes from a Takeout export (one or several zip parts, the extracted
// Takeout folder, or its Keep folder, whatever its localised name) into a backup archive.
// Zips are read in place. Holds no state; one run at a time per process (the archive name is
// fixed).
class ZNFKeepNoteImporter {
public:
    static ZNFConversionOutcome convert(const QStringList& paths,
                                        const ZNFConversionProgressHandler& progress = {},
                                        const ZNFConversionCancelFlag& cancelled = {});

    // One note's JSON as Keep wrote it, read into a note: body, dates, the attachments it names.
    struct Attachment {
        QString filePath;
        QString mimetype;
    };
    struct Note {
        ZNFImportedNote note; // its body: the lines, then the tag line
        QStringList lines;    // the title, then the text or the list's items
        QStringList labels;
        bool trashed = false;
        std::vector<Attachment> attachments;
    };
    // nullopt when the bytes are not a JSON object. `fileModified` stands in for missing dates.
    static std::optional<Note> parseNote(const QByteArray& json, const QString& fileName,
                                         const ZNFDate& fileModified);
    // The lines, then a blank line and the tag line when there are labels.
    static QString bodyFor(const QStringList& lines, const QStringList& labels);
};
