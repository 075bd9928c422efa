#include "notes_store_fixture.h"

#include "ZNFNoteStore.pb.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QUuid>
#include <algorithm>
#include <map>
#include <sqlite3.h>
#include <zlib.h>

namespace NotesStoreFixture {

namespace {

// Every table of the store with its columns; Z_PK, where a table has it, numbers the rows.
const std::map<QString, QStringList> kTables = {
    {"Z_PRIMARYKEY", {"Z_ENT", "Z_NAME", "Z_SUPER", "Z_MAX"}},
    {"Z_METADATA", {"Z_VERSION", "Z_UUID", "Z_PLIST"}},
    {"ZICCLOUDSYNCINGOBJECT",
     QString(
         "Z_PK Z_ENT Z_OPT ZMARKEDFORDELETION ZISPASSWORDPROTECTED ZFOLDER ZFOLDERTYPE ZNOTE ZCREATIONDATE "
         "ZCREATIONDATE1 ZCREATIONDATE3 ZMODIFICATIONDATE ZMODIFICATIONDATE1 ZIDENTIFIER ZTYPEUTI ZTITLE1 "
         // What current releases add: media rows and their generations, preview rows, fallback
         // images, gallery pages and the account that owns a folder.
         "ZTITLE ZOWNER ZMEDIA ZFILENAME ZGENERATION ZGENERATION1 ZFALLBACKPDFGENERATION "
         "ZFALLBACKIMAGEGENERATION ZPARENTATTACHMENT ZATTACHMENT ZWIDTH ZHEIGHT ZTYPEUTI1 ZALTTEXT "
         "ZURLSTRING ZMERGEABLEDATA1 ZMERGEABLEDATA ZPARENT ZTITLE2")
         .split(' ')},
    {"ZICNOTEDATA", {"Z_PK", "Z_ENT", "Z_OPT", "ZNOTE", "ZDATA"}}};

bool exec(sqlite3* db, const QString& sql) {
    return sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The table's columns the store keeps.
QStringList columnsOf(const Store& store, const QString& table) {
    QStringList columns = kTables.at(table);
    for (const QString& column : store.leftOutColumns)
        columns.removeAll(column);
    return columns;
}

// A value as an SQL literal of its storage class: NULL, BLOB, TEXT (hex-encoded, so quotes and
// NULs survive), REAL or INTEGER.
QString literal(const QVariant& value) {
    if (value.isNull())
        return "NULL";
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return "X'" + value.toByteArray().toHex() + "'";
    case QMetaType::QString:
        return "CAST(X'" + value.toString().toUtf8().toHex() + "' AS TEXT)";
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'e', QLocale::FloatingPointShortest);
    default:
        return QString::number(value.toLongLong());
    }
}

// Inserts the row's values of the columns the table has; nothing when the store has no such table.
bool insert(sqlite3* db, const Store& store, const QString& table, const Row& row) {
    if (store.leftOutTables.contains(table))
        return true;
    const QStringList columns = columnsOf(store, table);
    QStringList names, values;
    for (auto it = row.begin(); it != row.end(); ++it)
        if (columns.contains(it.key())) {
            names << it.key();
            values << literal(it.value());
        }
    return exec(db,
                "INSERT INTO " + table + " (" + names.join(", ") + ") VALUES (" + values.join(", ") + ")");
}

bool insertNote(sqlite3* db, const Store& store, const Note& note) {
    Row row{{"Z_PK", note.primaryKey}, {"Z_ENT", kNoteEntity}, {"Z_OPT", 1}};
    row.insert(note.extra);
    return insert(db, store, "ZICCLOUDSYNCINGOBJECT", row) &&
           (note.data.isNull() || insert(db, store, "ZICNOTEDATA",
                                         {{"Z_ENT", 4}, {"ZNOTE", note.primaryKey}, {"ZDATA", note.data}}));
}

} // namespace

QByteArray message(const QByteArray& utf8) {
    znf::notestore::NoteStoreProto proto;
    proto.mutable_document()->mutable_note()->set_note_text(utf8.constData(), size_t(utf8.size()));
    const std::string bytes = proto.SerializeAsString();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

QByteArray gzip(const QByteArray& bytes) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

QByteArray noteData(const QString& text) {
    return gzip(message(text));
}

QByteArray noteData(const std::vector<Run>& runs) {
    znf::notestore::NoteStoreProto proto;
    znf::notestore::Note* note = proto.mutable_document()->mutable_note();
    QString text;
    for (const Run& run : runs) {
        text += run.text;
        znf::notestore::AttributeRun* out = note->add_attribute_run();
        out->set_length(uint32_t(run.text.size()));
        if (run.style >= 0 || run.indent || run.quote) {
            znf::notestore::ParagraphStyle* style = out->mutable_paragraph_style();
            if (run.style >= 0)
                style->set_style_type(run.style);
            style->set_indent_amount(run.indent);
            if (run.style == 103)
                style->mutable_checklist()->set_done(run.done ? 1 : 0);
            if (run.quote)
                style->set_block_quote(1);
        }
        if (!run.link.isEmpty())
            out->set_link(run.link.toStdString());
        if (!run.attachment.isEmpty()) {
            out->mutable_attachment_info()->set_attachment_identifier(run.attachment.toStdString());
            out->mutable_attachment_info()->set_type_uti(run.type.toStdString());
        }
    }
    const QByteArray utf8 = text.toUtf8();
    note->set_note_text(utf8.constData(), size_t(utf8.size()));
    const std::string bytes = proto.SerializeAsString();
    return gzip(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

namespace {

namespace N = znf::notestore;

// A CRDT document being built: objects point at each other by their index among the entries,
// and at UUIDs by their index among the document's UUIDs.
class Document {
public:
    Document() : m_data(m_proto.mutable_mergable_data_object()->mutable_mergeable_data_object_data()) {}

    N::MergeableDataObjectData* data() { return m_data; }
    int add() {
        m_data->add_mergeable_data_object_entry();
        return m_data->mergeable_data_object_entry_size() - 1;
    }
    N::MergeableDataObjectEntry* entry(int index) {
        return m_data->mutable_mergeable_data_object_entry(index);
    }
    // The UUID's index, stored once.
    int uuid(const std::string& bytes) {
        for (int i = 0; i < m_data->mergeable_data_object_uuid_item_size(); ++i)
            if (m_data->mergeable_data_object_uuid_item(i) == bytes)
                return i;
        m_data->add_mergeable_data_object_uuid_item(bytes);
        return m_data->mergeable_data_object_uuid_item_size() - 1;
    }
    // A UUID object: a map of type `type` whose entry of key `key` holds the UUID's index.
    int uuidObject(int uuidIndex, int type = 0, int key = 0) {
        const int index = add();
        N::MergeableDataObjectMap* map = entry(index)->mutable_custom_map();
        map->set_type(type);
        N::MapEntry* e = map->add_map_entry();
        e->set_key(key);
        e->mutable_value()->set_unsigned_integer_value(uint64_t(uuidIndex));
        return index;
    }
    // An ordered set whose ordering holds `places`; `elements` are what the set still holds.
    // The first place is held by `heldBy` when it is given, as the ordering's contents say.
    int orderedSet(const std::vector<std::string>& places, const std::vector<std::string>& elements,
                   const std::string& heldBy = {}) {
        const int set = add();
        N::OrderedSet* out = entry(set)->mutable_ordered_set();
        for (size_t i = 0; i < places.size(); ++i) {
            std::string position = places[i];
            if (i == 0 && !heldBy.empty()) {
                position = heldBy;
                const int key = uuidObject(uuid(heldBy)), value = uuidObject(uuid(places[i]));
                N::DictionaryElement* e = out->mutable_ordering()->mutable_contents()->add_element();
                e->mutable_key()->set_object_index(key);
                e->mutable_value()->set_object_index(value);
            }
            uuid(position);
            N::OrderedSetOrderingArrayAttachment* a =
                out->mutable_ordering()->mutable_array()->add_attachment();
            a->set_index(int64_t(i));
            a->set_uuid(position);
        }
        for (const std::string& element : elements) {
            const int object = uuidObject(uuid(element));
            N::DictionaryElement* e = out->mutable_elements()->add_element();
            e->mutable_key()->set_object_index(object);
            e->mutable_value()->set_object_index(object);
        }
        return set;
    }
    QByteArray gzipped() const {
        const std::string bytes = m_proto.SerializeAsString();
        return gzip(QByteArray(bytes.data(), qsizetype(bytes.size())));
    }

private:
    N::MergableDataProto m_proto;
    N::MergeableDataObjectData* m_data;
};

std::string uuidBytes(const QString& uuid) {
    const QByteArray bytes = QUuid::fromString(uuid).toRfc4122();
    return bytes.toStdString();
}

} // namespace

QByteArray tableData(const Table& table) {
    Document document;
    N::MergeableDataObjectData* data = document.data();
    // Keys in an order a real table may have: looked up by name, never by place.
    for (const char* key : {"cellColumns", "UUIDIndex", "crColumns", "crTableColumnDirection", "crRows"})
        data->add_mergeable_data_object_key_item(key);
    enum { kCells, kUUIDIndex, kColumns, kDirection, kRows };
    for (const char* type : {"com.apple.CRDT.NSUUID", "com.apple.notes.ICTable"})
        data->add_mergeable_data_object_type_item(type);
    auto entry = [&document](int index) { return document.entry(index); };
    auto uuidObject = [&document](int uuidIndex) { return document.uuidObject(uuidIndex, 0, kUUIDIndex); };
    const int root = document.add();
    entry(root)->mutable_custom_map()->set_type(1);
    auto rootKey = [&](int key, int object) {
        N::MapEntry* e = entry(root)->mutable_custom_map()->add_map_entry();
        e->set_key(key);
        e->mutable_value()->set_object_index(object);
    };
    const int columnCount = table.rows.empty() ? 0 : int(table.rows.front().size());
    std::vector<int> rowIds, columnIds;
    auto orderedSet = [&](char kind, int count, std::vector<int>& ids, int deleted, bool replaceFirst) {
        std::vector<std::string> places, elements;
        for (int i = 0; i < count; ++i) {
            places.push_back(std::string(15, kind) + char(i));
            ids.push_back(document.uuid(places.back()));
            if (i != deleted)
                elements.push_back(places.back());
        }
        return document.orderedSet(places, elements,
                                   replaceFirst ? std::string(15, 'p') + char(0) : std::string());
    };
    rootKey(kRows, orderedSet('r', int(table.rows.size()), rowIds, table.deletedRow, true));
    rootKey(kColumns, orderedSet('c', columnCount, columnIds, -1, false));
    const int cells = document.add();
    entry(cells)->mutable_dictionary();
    for (int c = 0; c < columnCount; ++c) {
        const int column = document.add();
        entry(column)->mutable_dictionary();
        for (size_t r = 0; r < table.rows.size(); ++r) {
            const int note = document.add();
            entry(note)->mutable_note()->set_note_text(table.rows[r].value(c).toStdString());
            const int rowKey = uuidObject(rowIds[r]);
            N::DictionaryElement* e = entry(column)->mutable_dictionary()->add_element();
            e->mutable_key()->set_object_index(rowKey);
            e->mutable_value()->set_object_index(note);
        }
        const int columnKey = uuidObject(columnIds[size_t(c)]);
        N::DictionaryElement* e = entry(cells)->mutable_dictionary()->add_element();
        e->mutable_key()->set_object_index(columnKey);
        e->mutable_value()->set_object_index(column);
    }
    rootKey(kCells, cells);
    const int direction = document.add();
    entry(direction)->mutable_register_latest()->mutable_contents()->set_string_value(
        table.rightToLeft ? "CRTableColumnDirectionRightToLeft" : "CRTableColumnDirectionLeftToRight");
    rootKey(kDirection, direction);
    return document.gzipped();
}

QByteArray galleryData(const QStringList& listed, const QStringList& removed) {
    Document document;
    document.data()->add_mergeable_data_object_key_item("UUIDIndex");
    document.data()->add_mergeable_data_object_type_item("com.apple.CRDT.NSUUID");
    std::vector<std::string> places, elements;
    for (const QString& page : listed) {
        places.push_back(uuidBytes(page));
        if (!removed.contains(page, Qt::CaseInsensitive) &&
            std::find(elements.begin(), elements.end(), places.back()) == elements.end())
            elements.push_back(places.back());
    }
    document.orderedSet(places, elements);
    return document.gzipped();
}

QByteArray nestedMessage(const QString& text, int depth) {
    // Field 99 as a group: start tag (99 << 3 | 3) = 795, end tag 796, each a two-byte varint.
    const QByteArray start("\x9b\x06", 2), end("\x9c\x06", 2);
    return message(text) + start.repeated(depth) + end.repeated(depth);
}

bool write(const QString& folder, const Store& store) {
    QDir().mkpath(folder);
    const QString path = folder + "/NoteStore.sqlite";
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + suffix);
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
        return false;
    // No waiting for the disk: the file only has to outlive the test.
    bool ok = exec(db, "PRAGMA journal_mode=WAL") && exec(db, "PRAGMA synchronous=OFF");
    for (const auto& [table, columns] : kTables) {
        QStringList definitions;
        for (const QString& column : columnsOf(store, table))
            definitions << (column == "Z_PK" ? "Z_PK INTEGER PRIMARY KEY" : column);
        ok = ok && (store.leftOutTables.contains(table) ||
                    exec(db, "CREATE TABLE " + table + " (" + definitions.join(", ") + ")"));
    }
    for (auto it = store.entities.begin(); it != store.entities.end(); ++it)
        ok = ok && insert(db, store, "Z_PRIMARYKEY", {{"Z_ENT", it.value()}, {"Z_NAME", it.key()}});
    ok = ok && insert(db, store, "Z_METADATA", {{"Z_VERSION", 1}, {"Z_UUID", store.uuid}});
    for (const QString& statement : store.statements)
        ok = ok && exec(db, statement);
    ok = ok && exec(db, "BEGIN");
    for (const Row& row : store.objects)
        ok = ok && insert(db, store, "ZICCLOUDSYNCINGOBJECT", row);
    for (const Note& note : store.notes)
        ok = ok && (note.onlyInWriteAheadLog || insertNote(db, store, note));
    ok = ok && exec(db, "COMMIT") && exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
    // What comes now stays in the -wal file: closing must not move it into the database.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    for (const Note& note : store.notes)
        ok = ok && (!note.onlyInWriteAheadLog || insertNote(db, store, note));
    sqlite3_close(db);
    return ok;
}

Row folderRow(qint64 primaryKey, int folderType) {
    return {
        {"Z_PK", primaryKey}, {"Z_ENT", kFolderEntity}, {"ZFOLDERTYPE", folderType}, {"ZTITLE1", "folder"}};
}

Row accountRow(qint64 primaryKey, const QString& identifier) {
    return {{"Z_PK", primaryKey}, {"Z_ENT", kAccountEntity}, {"ZIDENTIFIER", identifier}};
}

Row mediaRow(qint64 primaryKey, const QString& identifier, const QString& fileName,
             const QVariant& generation) {
    return {{"Z_PK", primaryKey},
            {"Z_ENT", kMediaEntity},
            {"ZIDENTIFIER", identifier},
            {"ZFILENAME", fileName},
            {"ZGENERATION1", generation}};
}

Row previewRow(qint64 primaryKey, qint64 attachment, int width, int height, const QVariant& generation) {
    return {{"Z_PK", primaryKey}, {"Z_ENT", kPreviewEntity}, {"ZATTACHMENT", attachment},
            {"ZWIDTH", width},    {"ZHEIGHT", height},       {"ZGENERATION", generation}};
}

Row attachmentRow(qint64 primaryKey, qint64 note, const QString& identifier, const QString& type,
                  const QVariant& created) {
    return {{"Z_PK", primaryKey},        {"Z_ENT", kAttachmentEntity}, {"ZNOTE", note},
            {"ZIDENTIFIER", identifier}, {"ZTYPEUTI", type},           {"ZCREATIONDATE", created}};
}

QVariantMap snapshot(const QString& folder) {
    QVariantMap files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        files.insert(path, file.readAll());
    }
    return files;
}

} // namespace NotesStoreFixture
