#pragma once

#include "conversion/ZNFNotesAppImporter.h"
#include "platform/ZNFDate.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

inline constexpr const char* ZNFVesperNoteImporter_archiveName = "Vesper_to_Tessanote.notebackup";
// The export's top folder is the nearest folder whose name holds this word.
inline constexpr const char* ZNFVesperNoteImporter_topFolderMarker = "Vesper";
inline constexpr const char* ZNFVesperNoteImporter_activeNotesFolderName = "Active Notes";
inline constexpr const char* ZNFVesperNoteImporter_picturesFolderName = "Pictures";

// The labels of a note file's field lines, each with its trailing blank.
inline constexpr const char* ZNFVesperNoteImporterKey_picture = "Picture: ";
inline constexpr const char* ZNFVesperNoteImporterKey_tags = "Tags: ";
inline constexpr const char* ZNFVesperNoteImporterKey_created = "Created: ";
inline constexpr const char* ZNFVesperNoteImporterKey_modified = "Modified: ";

// Vesper writes dates as "Dec 5, 2015, 3:04 PM"; this is that format in Qt's notation.
inline constexpr const char* ZNFVesperNoteImporter_dateFormat = "MMM d, yyyy, h:mm AP";

// One note file as read: its text lines and its labelled fields.
struct ZNFVesperNote {
    QString text;                   // the text lines, each followed by "\n"
    QString path;                   // the note file
    QHash<QString, QString> fields; // label (with its blank) -> the last value seen
    ZNFDate fileModified;           // stands in for a missing or unreadable date field

    std::optional<QString> field(const char* label) const;
};

// What one conversion produced. `path` is empty when no archive was written, and then
// `failure` says why in one line; a note count of 0 is a failure to the caller too.
struct ZNFVesperConversion {
    QString path;
    qint64 notes = 0;
    qint64 attachments = 0;
    QString failure;
};

// Converts a Vesper export folder ("Active Notes" with note files, "Active Notes/Pictures")
// into a backup archive. Holds no state: the conversion itself touches nothing shared, so
// it may run on any thread, one run at a time per process (the archive name is fixed).
class ZNFVesperNoteImporter {
public:
    // Called with (notes done, notes in total) on the converting thread.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    // Converts synchronously and calls the completion once, on the calling thread, before
    // returning.
    static void importNotesAtURL(const QString& path, const ZNFImporterCompletion& completion);

    // Converts on a pool thread and calls the completion on the main thread, so a window
    // stays responsive while pictures are encoded and zipped.
    static void importNotesAtURLInBackground(const QString& path, ZNFImporterCompletion completion);

    // The whole conversion of the export found from `path` (the export, or anything inside it).
    static ZNFVesperConversion convert(const QString& path, const Progress& progress = {});

    // The export's top folder for a chosen path: when the path mentions "Vesper" but its
    // last component does not, the nearest enclosing folder whose name does; else the path.
    static QString topFolderForPath(const QString& chosen);

    // A folder's non-hidden entries, sorted by name (code point order, so every machine
    // gives the same archive); nullopt when the folder cannot be read.
    static std::optional<QStringList> filesAtURL(const QString& folder);
    static bool fileURLIsDirectory(const QString& path);

    // Reads every note file of the "Active Notes" folder and writes the archive from the
    // staging folder `output`, which is deleted afterwards.
    static ZNFVesperConversion processVesperNoteFolder(const QString& folder, const QString& output,
                                                       const Progress& progress = {});

    static ZNFVesperNote processNoteAtURL(const QString& file);
    static ZNFVesperNote structuredDataFromNote(const QString& text, const QString& file);

    // The note entries, each followed by its image entry; pictures are written into
    // `path`'s "resources" folder.
    static QJsonArray entriesFromNoteData(const std::vector<ZNFVesperNote>& notes, const QString& path);
    static QJsonArray entriesForNote(const ZNFVesperNote& note, const QString& path);

    static QString textForNote(const ZNFVesperNote& note);
    static QStringList tagsFromVesperTagField(const QString& value);
    static double epochDateForKey(const char* label, const ZNFVesperNote& note);
    static QString uuidForNote(const ZNFVesperNote& note);
    static std::optional<QJsonObject>
    pictureEntryForNote(const ZNFVesperNote& note, const QJsonObject& parent, const QString& assetsFolder);

    // Parses a date field: the user's locale first, then English month names.
    static std::optional<ZNFDate> dateFromString(const QString& value);

    // Whether a "Picture: " value can name a file in the "Pictures" folder: a plain file
    // name, never a path.
    static bool isPictureFileName(const QString& name);
};
