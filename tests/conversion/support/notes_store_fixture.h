#pragma once

// A copied Notes folder built by a test: NoteStore.sqlite with the tables a Notes store keeps
// its notes, folders and attachments in, note data made with the same protocol buffer classes
// and zlib the app reads them with, and "Media" and "Previews" beside it.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <vector>

namespace NotesStoreFixture {

// Entity numbers of the fixture's Z_PRIMARYKEY.
inline constexpr int kNoteEntity = 12;
inline constexpr int kAttachmentEntity = 5;
inline constexpr int kFolderEntity = 9;
inline constexpr int kMediaEntity = 11;
inline constexpr int kPreviewEntity = 6;
inline constexpr int kAccountEntity = 14;
inline constexpr const char* kUUID = "7A3F0C9E-1B2D-4E5F-8A9B-0C1D2E3F4A5B";

// The protocol buffer message of a note's text, before and after gzip.
QByteArray message(const QByteArray& utf8);
inline QByteArray message(const QString& text) {
    return message(text.toUtf8());
}
QByteArray gzip(const QByteArray& bytes);
QByteArray noteData(const QString& text);
// One attribute run of a note's text: its piece of the text and what the Notes app shows it as.
struct Run {
    QString text;
    int style = -1; // 100 dotted, 101 dashed, 102 numbered, 103 checklist; -1 none
    int indent = 0;
    bool done = false;
    bool quote = false;
    QString link = {};
    QString attachment = {}; // the identifier of the attachment its U+FFFC stands for
    QString type = {};
};
// A note's data whose text is the runs' texts, one after the other.
QByteArray noteData(const std::vector<Run>& runs);
// A table's cells as the Notes app keeps them (gzip'd CRDT document, its keys in an order of
// their own): rows in order, each row's cells left to right as stored. The row at
// `deletedRow` stays in the ordering but is no element any more, as after a deletion; the
// first row's position is held by a UUID the ordering's contents replace.
struct Table {
    std::vector<QStringList> rows;
    bool rightToLeft = false;
    int deletedRow = -1;
};
QByteArray tableData(const Table& table);
// A scanned document's list of its pages as the Notes app keeps it (gzip'd CRDT document): an
// ordered set whose ordering lists the UUIDs `listed`, in order and repeats kept; those in
// `removed` stay in the ordering but are no element any more.
QByteArray galleryData(const QStringList& listed, const QStringList& removed = {});
// Groups nested `depth` deep in an unknown field, after a valid note: still one message.
QByteArray nestedMessage(const QString& text, int depth);

// One row: column name -> value (a null QVariant is NULL; QByteArray is a BLOB).
using Row = QVariantMap;

// A note row of ZICCLOUDSYNCINGOBJECT with its ZICNOTEDATA row holding `data` (no data row
// when `data` is null). `extra` adds or replaces columns of the note row.
struct Note {
    qint64 primaryKey = 0;
    QByteArray data;
    Row extra;
    bool onlyInWriteAheadLog = false;
};

struct Store {
    std::vector<Note> notes;
    QStringList statements;     // SQL run once the tables are made
    std::vector<Row> objects;   // folders, attachments: any other row of ZICCLOUDSYNCINGOBJECT
    QStringList leftOutTables;  // e.g. "ZICNOTEDATA": the store is made without them
    QStringList leftOutColumns; // of any table
    QString uuid = QString::fromLatin1(kUUID);
    QVariantMap entities{{"ICNote", kNoteEntity},
                         {"ICAttachment", kAttachmentEntity},
                         {"ICFolder", kFolderEntity},
                         {"ICMedia", kMediaEntity},
                         {"ICAttachmentPreviewImage", kPreviewEntity},
                         {"ICAccount", kAccountEntity}};
};

// Writes `folder`/NoteStore.sqlite; notes marked onlyInWriteAheadLog stay in its -wal file.
bool write(const QString& folder, const Store& store);

Row folderRow(qint64 primaryKey, int folderType);
// As current releases (macOS 13 to 15) keep them: an account, whose ZIDENTIFIER names its folder
// "Accounts/<identifier>" (a folder row's ZOWNER names the account); a media row, whose file is
// "Media/<identifier>/<generation>/<file name>" (no generation folder before macOS 13); a
// preview row of an attachment, whose file is "Previews/<attachment id>-1-<W>x<H>-0.png" or
// ".../<generation>/Preview.png".
Row accountRow(qint64 primaryKey, const QString& identifier);
Row mediaRow(qint64 primaryKey, const QString& identifier, const QString& fileName,
             const QVariant& generation = {});
Row previewRow(qint64 primaryKey, qint64 attachment, int width, int height, const QVariant& generation = {});
Row attachmentRow(qint64 primaryKey, qint64 note, const QString& identifier, const QString& type,
                  const QVariant& created = {});

// Every file under `folder` (recursively) with its bytes.
QVariantMap snapshot(const QString& folder);

} // namespace NotesStoreFixture
