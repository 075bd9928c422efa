#pragma once

#include "conversion/ZNFNotesAppImporter.h"
#include "platform/ZNFDate.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

inline constexpr QLatin1StringView ZNFVesperNoteImporter_archiveName{"Vesper_to_Tessanote.notebackup"};
// The export's top folder is the nearest folder whose name holds this word.
inline constexpr QLatin1StringView ZNFVesperNoteImporter_topFolderMarker{"Vesper"};
inline constexpr QLatin1StringView ZNFVesperNoteImporter_activeNotesFolderName{"Active Notes"};
inline constexpr QLatin1StringView ZNFVesperNoteImporter_picturesFolderName{"Pictures"};
// A note file larger than this is not a note Vesper wrote; it is left out with a log line.
inline constexpr qint64 ZNFVesperNoteImporter_maxNoteFileBytes = 256LL * 1024 * 1024;

// The labels of a note file's field lines, each with its trailing blank.
inline constexpr QLatin1StringView ZNFVesperNoteImporterKey_picture{"Picture: "};
inline constexpr QLatin1StringView ZNFVesperNoteImporterKey_tags{"Tags: "};
inline constexpr QLatin1StringView ZNFVesperNoteImporterKey_created{"Created: "};
inline constexpr QLatin1StringView ZNFVesperNoteImporterKey_modified{"Modified: "};

// Vesper writes dates as "Dec 5, 2015, 3:04 PM"; this is that format in Qt's notation.
inline constexpr QLatin1StringView ZNFVesperNoteImporter_dateFormat{"MMM d, yyyy, h:mm AP"};

// One note file as read: its text lines and its labelled fields.
struct ZNFVesperNote {
    QString text;                   // the text lines, each followed by "\n"
    QString path;                   // the note file
    QHash<QString, QString> fields; // label (with its blank) -> the last value seen
    ZNFDate fileModified;           // stands in for a missing or unreadable date field

    std::optional<QString> field(QLatin1StringView label) const;
};

// Converts a Vesper export folder ("Active Notes" with note files, "Active Notes/Pictures")
// into a backup archive. Holds no state: the conversion itself touches nothing shared, so
// it may run on any thread, one run at a time per process (the archive name is fixed).
class ZNFVesperNoteImporter {
public:
    using Progress = ZNFConversionProgressHandler;
    using CancelFlag = ZNFConversionCancelFlag;

    // Converts synchronously and calls the completion once, on the calling thread, before
    // returning.
    static void importNotesAtURL(const QString& path, const ZNFImporterCompletion& completion);

    // Converts as a ZNFConversionJob and calls the completion on the main thread, so a window
    // stays responsive while pictures are encoded and zipped. Progress, when given, also
    // arrives on the main thread. Setting the returned flag cancels the run: its completion
    // never comes and it leaves no files.
    static CancelFlag importNotesAtURLInBackground(const QString& path, ZNFImporterCompletion completion,
                                                   Progress progress = {});

    // The whole conversion of the export found from `path` (the export, or anything inside it).
    static ZNFConversionOutcome convert(const QString& path, const Progress& progress = {},
                                        const CancelFlag& cancelled = {});

    // The export's top folder for a chosen path: when the path mentions "Vesper" but its
    // last component does not, the nearest enclosing folder whose name does; else the path.
    static QString topFolderForPath(const QString& chosen);

    // A folder's non-hidden entries, sorted by name (code point order, so every machine
    // gives the same archive); nullopt when the folder cannot be read.
    static std::optional<QStringList> filesAtURL(const QString& folder);
    static bool fileURLIsDirectory(const QString& path);

    // Reads every note file of the "Active Notes" folder inside the export `top` and writes
    // the archive. Pictures are decoded and encoded on `threads` threads (the archive is the
    // same whatever the number).
    static ZNFConversionOutcome processVesperNoteFolder(const QString& folder, const QString& top,
                                                        const Progress& progress = {},
                                                        const CancelFlag& cancelled = {}, int threads = 0);

    // The note files of the folder: regular files, not links, whose real path lies inside
    // the export `top`; what is left out is logged.
    static QStringList noteFilesInFolder(const QString& folder, const QString& top);

    static ZNFVesperNote processNoteAtURL(const QString& file);
    // Works in place on a text it is given to keep.
    static ZNFVesperNote structuredDataFromNote(QString text, const QString& file);
    // Bytes of a note file as text: UTF-16 with its byte order mark, else UTF-8 (invalid
    // bytes become U+FFFD).
    static QString decodeNoteText(const QByteArray& bytes);

    // The note entry without its body, which is textForNote().
    static QJsonObject noteEntryForNote(const ZNFVesperNote& note);
    static QJsonObject imageEntry(const QJsonObject& parent, const QString& pictureName,
                                  const QString& binaryAttachmentId, const QSizeF& points);

    static QString textForNote(const ZNFVesperNote& note);
    static QStringList tagsFromVesperTagField(const QString& value);
    static double epochDateForKey(QLatin1StringView label, const ZNFVesperNote& note);
    static QString uuidForNote(const ZNFVesperNote& note);
    // The picture file a note names, when it is a regular file (not a link) inside the
    // export's "Pictures" folder; empty otherwise, with a log line saying why.
    static QString picturePathForNote(const ZNFVesperNote& note, const QString& top);

    // Parses a date field: the user's locale first, then English month names.
    static std::optional<ZNFDate> dateFromString(const QString& value);

    // Whether a "Picture: " value can name a file in the "Pictures" folder: a plain file
    // name, never a path.
    static bool isPictureFileName(const QString& name);
};
