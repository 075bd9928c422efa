#pragma once

#include "conversion/ZNFConversionOutcome.h"
#include "platform/ZNFDate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

inline constexpr QLatin1StringView ZNFEvernoteImporter_archiveName{"Evernote_to_Tessanote.notebackup"};

// Limits on what an .enex file may make this read: a note's ENML, one resource's decoded data,
// elements nested in a note, and notes in all files.
inline constexpr qint64 ZNFEvernoteImporter_maxContentBytes = 64LL * 1024 * 1024;
inline constexpr qint64 ZNFEvernoteImporter_maxResourceBytes = 256LL * 1024 * 1024;
inline constexpr int ZNFEvernoteImporter_maxDepth = 256;
inline constexpr qint64 ZNFEvernoteImporter_maxNotes = 1000000;
// A note's pictures are held together until the note is written: past this many bytes of them,
// or this many resources, the rest of the note's attachments are left out.
inline constexpr qint64 ZNFEvernoteImporter_maxNotePictureBytes = 512LL * 1024 * 1024;
inline constexpr int ZNFEvernoteImporter_maxResourcesPerNote = 10000;
// A title, tag, file name or date longer than this is cut there.
inline constexpr qint64 ZNFEvernoteImporter_maxFieldBytes = 64 * 1024;

// The limits one run keeps; the defaults are the constants above. Tests lower them to reach
// them with small files.
struct ZNFEvernoteLimits {
    qint64 contentBytes = ZNFEvernoteImporter_maxContentBytes;
    qint64 resourceBytes = ZNFEvernoteImporter_maxResourceBytes;
    int depth = ZNFEvernoteImporter_maxDepth;
    qint64 notes = ZNFEvernoteImporter_maxNotes;
    qint64 notePictureBytes = ZNFEvernoteImporter_maxNotePictureBytes;
    int resourcesPerNote = ZNFEvernoteImporter_maxResourcesPerNote;
    qint64 fieldBytes = ZNFEvernoteImporter_maxFieldBytes;
};

// Converts Evernote export files (.enex, one per notebook) into one backup archive, streaming:
// memory does not grow with the size of a file or the number of notes. A note that cannot be
// read is left out and the next one is read; a file cut off keeps the notes before the cut.
class ZNFEvernoteImporter {
public:
    static ZNFConversionOutcome convert(const QStringList& enexFiles,
                                        const ZNFConversionProgressHandler& progress = {},
                                        const ZNFConversionCancelFlag& cancelled = {});
    static ZNFConversionOutcome convert(const QStringList& enexFiles, const ZNFEvernoteLimits& limits,
                                        const ZNFConversionProgressHandler& progress = {},
                                        const ZNFConversionCancelFlag& cancelled = {});

    // What an <en-media hash="..." type="..."/> becomes in the text: nullopt makes it a picture
    // (U+FFFC, where the phone places it), a string a line of its own (empty: nothing).
    using MediaText = std::function<std::optional<QString>(const QString& hash, const QString& type)>;

    // A picture of the text, in the order the text places them: a resource by its hash, or
    // the bytes of an inline "data:" picture.
    struct Picture {
        QString hash;
        QByteArray bytes;
    };
    struct Text {
        QString text;
        std::vector<Picture> pictures;
        int encrypted = 0;        // <en-crypt> passages, each a line saying so
        int unreadableInline = 0; // inline "data:" pictures that are no picture
    };
    // ENML as plain text. Lenient: markup that is not well-formed still gives its text, and the
    // DOCTYPE is never fetched. Without `media`, an en-media of an image type is a picture and
    // any other a placeholder line. `limits` bound the nesting and inline pictures.
    static Text enmlToText(const QString& enml, const MediaText& media = {},
                           const ZNFEvernoteLimits& limits = {});

    // The ENML a <content> element's raw text holds: its CDATA sections joined (a "]]>" that
    // was split across two sections comes back whole, a CDATA section nested inside is kept as
    // ENML), or, without CDATA, the text with its character references decoded.
    static QString contentENML(const QByteArray& raw);

    // "20200131T235959Z", read as UTC; blanks around it are ignored. nullopt for anything else.
    static std::optional<ZNFDate> parseDate(QStringView text);
};
