#include "conversion/ZNFKeepNoteImporter.h"

#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFNoteBodyText.h"
#include "conversion/ZNFTemporaryFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimeZone>

#include <algorithm>
#include <map>
#include <unzip.h>

using namespace Qt::StringLiterals;

namespace {

// One file of the export: a member of one of the zips, or a file under a folder.
struct Entry {
    QString path; // "/"-separated, relative to the zip or the chosen folder
    int zip = -1; // index into Source::zips; -1 for a file on disk
    unz64_file_pos position{};
    qint64 size = 0;
    ZNFDate modified;
};

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash);
}

QString nameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString withoutExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? name : name.left(dot);
}

QString extensionOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot <= 0 ? QString() : name.mid(dot + 1).toLower();
}

class Source {
public:
    ~Source() {
        for (unzFile zip : m_zips)
            unzClose(zip);
    }

    std::vector<Entry> entries;
    QString failure;

    bool addZip(const QString& path) {
        unzFile zip = unzOpen64(QFile::encodeName(path).constData());
        if (!zip)
            return fail(QStringLiteral("%1 is not a zip archive that can be read").arg(path));
        m_zips.push_back(zip);
        m_zipPaths << path;
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(zip, &global) != UNZ_OK)
            return fail(QStringLiteral("%1 is not a zip archive that can be read").arg(path));
        if (qint64(global.number_entry) + qint64(entries.size()) > ZNFKeepNoteImporter_maxEntries)
            return fail(
                QStringLiteral("%1 holds more than %2 files").arg(path).arg(ZNFKeepNoteImporter_maxEntries));
        const int index = int(m_zips.size()) - 1;
        for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
            unz_file_info64 info{};
            char name[4096];
            if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
                continue;
            QString member = QString::fromUtf8(name, qstrnlen(name, sizeof name));
            if (member.endsWith(u'/'))
                continue;
            Entry entry;
            entry.path = std::move(member);
            entry.zip = index;
            unzGetFilePos64(zip, &entry.position);
            entry.size = qint64(info.uncompressed_size);
            const tm_unz& t = info.tmu_date;
            const QDateTime date(QDate(int(t.tm_year), int(t.tm_mon) + 1, int(t.tm_mday)),
                                 QTime(int(t.tm_hour), int(t.tm_min), int(t.tm_sec)), Qt::UTC);
            entry.modified = date.isValid() ? ZNFDate::fromDateTime(date) : ZNFDate::now();
            entries.push_back(std::move(entry));
        }
        return true;
    }

    bool addFolder(const QString& folder) {
        m_folder = QDir(folder).absolutePath();
        return addFolderEntries(m_folder, QString(), 0);
    }

    // The entry's bytes, or nullopt when it is larger than `limit` or cannot be read.
    std::optional<QByteArray> read(const Entry& entry, qint64 limit) const {
        if (entry.size > limit)
            return std::nullopt;
        if (entry.zip < 0) {
            QFile file(QDir(m_folder).filePath(entry.path));
            if (!file.open(QIODevice::ReadOnly))
                return std::nullopt;
            QByteArray bytes = file.read(limit + 1);
            if (bytes.size() > limit)
                return std::nullopt;
            return bytes;
        }
        unzFile zip = m_zips[size_t(entry.zip)];
        unz64_file_pos position = entry.position;
        if (unzGoToFilePos64(zip, &position) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK)
            return std::nullopt;
        QByteArray bytes;
        bytes.reserve(entry.size);
        char buffer[64 * 1024];
        int got = 0;
        // The declared size may lie: reading stops at the limit whatever it says.
        while ((got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) {
            if (bytes.size() + got > limit) {
                got = -1;
                break;
            }
            bytes.append(buffer, got);
        }
        const bool crcOK = unzCloseCurrentFile(zip) == UNZ_OK;
        if (got < 0 || !crcOK)
            return std::nullopt;
        return bytes;
    }

private:
    bool fail(const QString& why) {
        failure = why;
        return false;
    }

    bool addFolderEntries(const QString& root, const QString& relative, int depth) {
        if (depth > ZNFKeepNoteImporter_maxFolderDepth)
            return true;
        const QDir dir(relative.isEmpty() ? root : QDir(root).filePath(relative));
        QStringList names = dir.entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        std::sort(names.begin(), names.end());
        for (const QString& name : names) {
            const QFileInfo info(dir.filePath(name));
            const QString path = relative.isEmpty() ? name : relative + u'/' + name;
            // A link may lead anywhere on the machine: only what lies in the export is read.
            if (info.isSymLink())
                continue;
            if (info.isDir()) {
                if (!addFolderEntries(root, path, depth + 1))
                    return false;
                continue;
            }
            if (!info.isFile())
                continue;
            if (qint64(entries.size()) >= ZNFKeepNoteImporter_maxEntries)
                return fail(QStringLiteral("%1 holds more than %2 files")
                                .arg(root)
                                .arg(ZNFKeepNoteImporter_maxEntries));
            Entry entry;
            entry.path = path;
            entry.size = info.size();
            const QDateTime modified = info.lastModified();
            entry.modified = modified.isValid() ? ZNFDate::fromDateTime(modified) : ZNFDate::now();
            entries.push_back(std::move(entry));
        }
        return true;
    }

    std::vector<unzFile> m_zips;
    QStringList m_zipPaths;
    QString m_folder;
};

// The Keep folder is named in the account's language: it is the folder holding the most note
// files, a ".json" with an ".html" of the same name beside it.
std::optional<QString> keepFolder(const std::vector<Entry>& entries) {
    QSet<QString> html;
    for (const Entry& entry : entries)
        if (entry.path.endsWith(".html"_L1, Qt::CaseInsensitive))
            html.insert(withoutExtension(entry.path));
    std::map<QString, qint64> notes;
    for (const Entry& entry : entries)
        if (entry.path.endsWith(".json"_L1, Qt::CaseInsensitive) &&
            html.contains(withoutExtension(entry.path)))
            ++notes[folderOf(entry.path)];
    const auto best = std::max_element(notes.begin(), notes.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    if (best == notes.end())
        return std::nullopt;
    return best->first;
}

bool isPicture(const QString& mimetype, const QString& name) {
    static const QStringList extensions{u"jpg"_s,  u"jpeg"_s, u"png"_s, u"gif"_s,
                                        u"webp"_s, u"heic"_s, u"bmp"_s};
    return mimetype.startsWith("image/"_L1) || (mimetype.isEmpty() && extensions.contains(extensionOf(name)));
}

// Keep writes microseconds as a number; older exports wrote them as a string.
qint64 microseconds(const QJsonValue& value) {
    if (value.isString())
        return value.toString().trimmed().toLongLong();
    return value.isDouble() ? qint64(value.toDouble()) : 0;
}

} // namespace

QString ZNFKeepNoteImporter::bodyFor(const QStringList& lines, const QStringList& labels) {
    return ZNFNoteBodyText::withTagLine(lines.join(u'\n'), labels);
}

std::optional<ZNFKeepNoteImporter::Note>
ZNFKeepNoteImporter::parseNote(const QByteArray& json, const QString& fileName, const ZNFDate& fileModified) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    Note result;
    const QString title = object.value("title"_L1).toString().trimmed();
    if (!title.isEmpty())
        result.lines << title;
    const QJsonValue list = object.value("listContent"_L1);
    if (list.isArray()) {
        for (const QJsonValue& item : list.toArray()) {
            const QJsonObject entry = item.toObject();
            result.lines << ZNFNoteBodyText::checklistItem(entry.value("text"_L1).toString(),
                                                           entry.value("isChecked"_L1).toBool());
        }
    } else {
        QString text = object.value("textContent"_L1).toString();
        while (text.endsWith(u'\n'))
            text.chop(1);
        if (!text.isEmpty())
            result.lines << text;
    }
    for (const QJsonValue& label : object.value("labels"_L1).toArray()) {
        const QString name = label.toObject().value("name"_L1).toString();
        if (!name.trimmed().isEmpty())
            result.labels << name;
    }
    for (const QJsonValue& value : object.value("attachments"_L1).toArray()) {
        const QJsonObject attachment = value.toObject();
        const QString path = attachment.value("filePath"_L1).toString();
        if (!path.isEmpty())
            result.attachments.push_back({path, attachment.value("mimetype"_L1).toString().toLower()});
    }
    result.trashed = object.value("isTrashed"_L1).toBool();

    qint64 created = microseconds(object.value("createdTimestampUsec"_L1));
    qint64 edited = microseconds(object.value("userEditedTimestampUsec"_L1));
    if (created <= 0)
        created = edited;
    if (edited <= 0)
        edited = created;
    result.note.created = created > 0 ? ZNFDate{created / 1e6} : fileModified;
    result.note.updated = edited > 0 ? ZNFDate{edited / 1e6} : fileModified;
    result.note.identifier = "KEEP_"_L1 + withoutExtension(fileName);
    QString firstLine = result.lines.value(0).section(u'\n', 0, 0).trimmed();
    result.note.title = firstLine.isEmpty() ? withoutExtension(fileName) : firstLine;
    result.note.body = bodyFor(result.lines, result.labels);
    return result;
}

ZNFConversionOutcome ZNFKeepNoteImporter::convert(const QStringList& paths,
                                                  const ZNFConversionProgressHandler& progress,
                                                  const ZNFConversionCancelFlag& cancelled) {
    ZNFConversionOutcome result;
    if (paths.isEmpty()) {
        result.failure = QStringLiteral("no Google Takeout file or folder was chosen");
        return result;
    }
    Source source;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        bool ok = false;
        if (info.isDir()) {
            if (paths.size() > 1) {
                result.failure =
                    QStringLiteral("choose one Takeout folder, or the parts of one Takeout archive");
                return result;
            }
            ok = source.addFolder(path);
        } else if (path.endsWith(".tgz"_L1, Qt::CaseInsensitive) ||
                   path.endsWith(".tar.gz"_L1, Qt::CaseInsensitive)) {
            source.failure = QStringLiteral("%1 is a .tgz archive: extract it and choose its folder, or ask "
                                            "Takeout for a .zip")
                                 .arg(path);
        } else if (info.isFile()) {
            ok = source.addZip(path);
        } else {
            source.failure = QStringLiteral("no such file or folder: %1").arg(path);
        }
        if (!ok) {
            result.failure = source.failure;
            return result;
        }
    }
    const std::optional<QString> folder = keepFolder(source.entries);
    if (!folder) {
        result.failure = QStringLiteral("no Google Keep notes were found in %1").arg(paths.join(", "_L1));
        return result;
    }

    // The Keep folder's files by name, and by name without extension: an attachment's filePath
    // often says ".jpeg" where the file is ".jpg".
    std::vector<const Entry*> noteFiles;
    QHash<QString, const Entry*> byName;
    QHash<QString, const Entry*> byStem;
    for (const Entry& entry : source.entries) {
        if (folderOf(entry.path) != *folder)
            continue;
        const QString name = nameOf(entry.path);
        if (name.endsWith(".json"_L1, Qt::CaseInsensitive))
            noteFiles.push_back(&entry);
        else {
            byName.insert(name, &entry);
            byStem.insert(withoutExtension(name), &entry);
        }
    }
    std::sort(noteFiles.begin(), noteFiles.end(),
              [](const Entry* a, const Entry* b) { return a->path < b->path; });

    ZNFTemporaryFiles::removeLeftovers();
    auto isCancelled = [&cancelled] { return cancelled && cancelled->load(); };
    ZNFImportedNoteWriter writer(ZNFKeepNoteImporter_archiveName, result);
    const qint64 total = qint64(noteFiles.size());
    qint64 bytesRead = 0;
    for (qint64 i = 0; i < total && !isCancelled() && writer.isOK(); ++i) {
        const Entry& file = *noteFiles[size_t(i)];
        const QString fileName = nameOf(file.path);
        if (bytesRead + file.size > ZNFKeepNoteImporter_maxTotalBytes) {
            result.addLeftOut({ZNFLeftOutReason::NoteOverLimit, withoutExtension(fileName), {}, {}});
            continue;
        }
        const std::optional<QByteArray> json = source.read(file, ZNFKeepNoteImporter_maxNoteJSONBytes);
        std::optional<Note> note = json ? parseNote(*json, fileName, file.modified) : std::nullopt;
        if (progress)
            progress(i + 1, total);
        if (!note) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Keep importer: %1 is not a note that can be read, left out")
                       .arg(file.path);
            result.addLeftOut(
                {ZNFLeftOutReason::UnreadableNote,
                 withoutExtension(fileName),
                 {},
                 json ? QStringLiteral("its data is damaged") : QStringLiteral("it is too large")});
            continue;
        }
        bytesRead += json->size();
        if (note->trashed) {
            result.addLeftOut({ZNFLeftOutReason::TrashedNote, note->note.title, {}, {}});
            continue;
        }
        bool linesAdded = false;
        for (const Attachment& attachment : note->attachments) {
            const QString name = nameOf(attachment.filePath);
            const Entry* found = byName.value(name);
            if (!found)
                found = byStem.value(withoutExtension(name));
            if (isPicture(attachment.mimetype, name)) {
                std::optional<QByteArray> bytes;
                if (found && bytesRead + found->size <= ZNFKeepNoteImporter_maxTotalBytes)
                    bytes = source.read(*found, ZNFKeepNoteImporter_maxAttachmentBytes);
                if (bytes) {
                    bytesRead += bytes->size();
                    note->note.pictures.push_back({nameOf(found->path), std::move(*bytes)});
                    continue;
                }
                const ZNFLeftOutReason reason =
                    found ? ZNFLeftOutReason::UnreadablePicture : ZNFLeftOutReason::MissingPicture;
                result.addLeftOut({reason, note->note.title, name, {}});
                note->lines << ZNFLeftOut::placeholderLine(reason, name);
                linesAdded = true;
                continue;
            }
            const ZNFLeftOutReason reason = ZNFLeftOut::reasonForAttachment(attachment.mimetype, name);
            result.addLeftOut({reason, note->note.title, name, {}});
            note->lines << ZNFLeftOut::placeholderLine(reason, name);
            linesAdded = true;
        }
        if (linesAdded)
            note->note.body = bodyFor(note->lines, note->labels);
        writer.add(std::move(note->note));
    }
    writer.finish(isCancelled(), QStringLiteral("no notes were found in %1").arg(paths.join(", "_L1)));
    return result;
}
