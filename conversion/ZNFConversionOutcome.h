#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// Why something a person wrote is not in the archive. Every importer reports through these, so
// that the command line, the backup screen and the list of notes say the same.
enum class ZNFLeftOutReason {
    // Whole notes.
    LockedNote,          // password-protected: its data is encrypted
    DeletedNote,         // marked for deletion
    RecentlyDeletedNote, // in the Notes app's "Recently Deleted"
    TrashedNote,         // in the source's trash
    UnreadableNote,      // its data is missing, damaged or too large
    NoteOverLimit,       // past the limits on the number of notes or on all their text
    // Parts of a note that the archive cannot carry; the note itself is in the archive.
    PDF,
    Audio,
    Video,
    File,                 // any other attached file
    MissingPicture,       // named by the note, not found in the export
    UnreadablePicture,    // found, but no picture could be made of it
    UnreadableAttachment, // a table, gallery or drawing whose data could not be read
    EncryptedText,        // text the source keeps encrypted
    AttachmentOverLimit,  // past the limit on attachments
};
inline constexpr int ZNFLeftOutReason_count = int(ZNFLeftOutReason::AttachmentOverLimit) + 1;

// An outcome names at most this many items one by one; past it they are only counted.
inline constexpr qsizetype ZNFConversionOutcome_maxLeftOutItems = 10000;

// One thing left out.
struct ZNFLeftOutItem {
    ZNFLeftOutReason reason = ZNFLeftOutReason::File;
    QString note;       // the note's title or first line, else its identifier
    QString attachment; // the attachment's name; empty when the whole note was left out
    QString detail;     // optional: more of why, in words ("its gzip data is damaged")
};

namespace ZNFLeftOut {
// Whether the reason leaves a whole note out (the rest leave out a part of a note).
bool isWholeNote(ZNFLeftOutReason reason);
// "locked note" / "locked notes", "PDF" / "PDFs", "audio recording" / "audio recordings", ...
QString noun(ZNFLeftOutReason reason, qint64 count);
// "3 locked notes"
QString counted(ZNFLeftOutReason reason, qint64 count);
// The name a body line gives an attachment that cannot be carried: "[PDF: Boarding pass.pdf]".
QString placeholderLine(ZNFLeftOutReason reason, const QString& name);
// Why an attachment that is no picture cannot be carried, by its MIME type (lower case) and
// file name: a PDF, an audio recording, a video or another file.
ZNFLeftOutReason reasonForAttachment(const QString& mimetype, const QString& name);
} // namespace ZNFLeftOut

// How a conversion ended, for every importer and every front end: the archive and what went
// into it, or the reason there is none. The reason is one line a user can act on.
struct ZNFConversionOutcome {
    QString path; // the archive; empty when none was written
    qint64 notes = 0;
    qint64 attachments = 0;
    QString failure; // why there is no archive, or why it holds no note
    bool cancelled = false;

    // What was left out, in the order it was met; at most ZNFConversionOutcome_maxLeftOutItems.
    std::vector<ZNFLeftOutItem> leftOut;
    // Every item left out, by reason, including those past the list's limit.
    std::array<qint64, ZNFLeftOutReason_count> leftOutCounts{};

    // What the user asked for: an archive with at least one note in it.
    bool succeeded() const { return !path.isEmpty() && notes >= 1; }

    void addLeftOut(ZNFLeftOutItem item);
    // Counts `count` more of a reason without naming them.
    void countLeftOut(ZNFLeftOutReason reason, qint64 count);
    qint64 leftOutCount(ZNFLeftOutReason reason) const { return leftOutCounts[size_t(reason)]; }
    qint64 leftOutTotal() const;
    // Items left out by another run (a source's reader), added after this outcome's own.
    void mergeLeftOut(const ZNFConversionOutcome& other);

    // One line per reason for whole notes ("2 locked notes left out"), then one line for the
    // parts that could not be carried ("1 PDF and 1 audio recording could not be carried").
    QStringList leftOutLines() const;
    // Everything in one phrase: "3 locked notes and 1 PDF left out"; empty when nothing was.
    QString leftOutSummary() const;
};

using ZNFImporterCompletion = std::function<void(const ZNFConversionOutcome& outcome)>;

// Every source converts through one entry point of this shape:
//   static ZNFConversionOutcome convert(<its input>, const ZNFConversionProgressHandler& = {},
//                                       const ZNFConversionCancelFlag& = {});
// Progress comes as (notes done, notes in total) on the converting thread. Setting the flag from
// any thread stops the run between notes; the run then removes its partial files and reports
// `cancelled`.
using ZNFConversionProgressHandler = std::function<void(qint64 done, qint64 total)>;
using ZNFConversionCancelFlag = std::shared_ptr<std::atomic<bool>>;
