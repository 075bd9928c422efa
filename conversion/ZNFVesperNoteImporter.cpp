#include "conversion/ZNFVesperNoteImporter.h"

#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFJSONAdditions.h"
#include "platform/ZNFImage.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFMainQueue.h"
#include "platform/ZNFNumberFormat.h"
#include "platform/ZNFPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QThreadPool>

#include <algorithm>

namespace {

const char* const kLabels[] = {ZNFVesperNoteImporterKey_picture, ZNFVesperNoteImporterKey_tags,
                               ZNFVesperNoteImporterKey_created, ZNFVesperNoteImporterKey_modified};

bool isLineBreak(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Whitespace as the export's reader understood it: Unicode separators, tab, LF to CR, NEL.
bool isBlankCharacter(QChar c) {
    const char16_t u = c.unicode();
    if (u == u'\t' || (u >= 0x0A && u <= 0x0D) || u == 0x85)
        return true;
    const QChar::Category category = c.category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

bool isBlankLine(QStringView line) {
    return std::all_of(line.begin(), line.end(), isBlankCharacter);
}

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

} // namespace

std::optional<QString> ZNFVesperNote::field(const char* label) const {
    const auto it = fields.constFind(QLatin1String(label));
    if (it == fields.constEnd())
        return std::nullopt;
    return *it;
}

void ZNFVesperNoteImporter::importNotesAtURL(const QString& path, const ZNFImporterCompletion& completion) {
    const ZNFVesperConversion result = convert(path);
    if (completion)
        completion(result.path, result.notes, result.attachments);
}

void ZNFVesperNoteImporter::importNotesAtURLInBackground(const QString& path,
                                                         ZNFImporterCompletion completion) {
    QThreadPool::globalInstance()->start([path, completion = std::move(completion)] {
        const ZNFVesperConversion result = convert(path);
        ZNFPostToMainQueue([result, completion] {
            if (completion)
                completion(result.path, result.notes, result.attachments);
        });
    });
}

ZNFVesperConversion ZNFVesperNoteImporter::convert(const QString& path, const Progress& progress) {
    ZNFVesperConversion result;
    if (path.isEmpty()) {
        result.failure = QStringLiteral("no export folder was chosen");
        return result;
    }
    const QString top = topFolderForPath(path);
    const std::optional<QStringList> entries = filesAtURL(top);
    if (!entries) {
        result.failure = QStringLiteral("cannot read the folder %1").arg(top);
        return result;
    }
    const auto activeNotes = std::find_if(entries->begin(), entries->end(), [](const QString& entry) {
        return fileName(entry) == QLatin1String(ZNFVesperNoteImporter_activeNotesFolderName) &&
               fileURLIsDirectory(entry);
    });
    if (activeNotes == entries->end()) {
        result.failure = QStringLiteral("no \"%1\" folder in %2")
                             .arg(QLatin1String(ZNFVesperNoteImporter_activeNotesFolderName), top);
        return result;
    }
    // Staged only once there is something to convert, so a wrong choice leaves nothing behind.
    const QString staging = ZNFBackupArchive::createStagingFolder();
    if (staging.isEmpty()) {
        result.failure =
            QStringLiteral("cannot create a staging folder in %1").arg(ZNFPaths::cachesDirectory());
        return result;
    }
    return processVesperNoteFolder(*activeNotes, staging, progress);
}

QString ZNFVesperNoteImporter::topFolderForPath(const QString& chosen) {
    QString path = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
    const QLatin1String marker(ZNFVesperNoteImporter_topFolderMarker);
    if (!path.contains(marker) || fileName(path).contains(marker))
        return path;
    // The marker holds no "/", so some component of the path contains it and this ends.
    while (!fileName(path).contains(marker) && path != QLatin1String("/"))
        path = QFileInfo(path).path();
    return path;
}

std::optional<QStringList> ZNFVesperNoteImporter::filesAtURL(const QString& folder) {
    const QDir dir(folder);
    if (!fileURLIsDirectory(folder) || !dir.isReadable())
        return std::nullopt;
    QStringList names = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end());
    QStringList paths;
    paths.reserve(names.size());
    for (const QString& name : names)
        paths << dir.filePath(name);
    return paths;
}

bool ZNFVesperNoteImporter::fileURLIsDirectory(const QString& path) {
    return QFileInfo(path).isDir();
}

ZNFVesperConversion ZNFVesperNoteImporter::processVesperNoteFolder(const QString& folder,
                                                                   const QString& output,
                                                                   const Progress& progress) {
    ZNFVesperConversion result;
    QStringList noteFiles;
    // Only regular files are notes: a pipe or device in the folder would block or never end.
    for (const QString& entry : filesAtURL(folder).value_or(QStringList()))
        if (QFileInfo(entry).isFile())
            noteFiles << entry;

    // One note at a time, so a large export never holds all its notes in memory.
    QJsonArray entries;
    const qint64 total = noteFiles.size();
    for (const QString& file : noteFiles) {
        for (const QJsonValue& entry : entriesForNote(processNoteAtURL(file), output))
            entries.append(entry);
        ++result.notes;
        if (progress)
            progress(result.notes, total);
    }
    result.attachments = entries.size() - result.notes;
    result.path = ZNFBackupArchive::finish(output, entries, QLatin1String(ZNFVesperNoteImporter_archiveName));
    if (result.path.isEmpty())
        result.failure = QStringLiteral("the archive could not be written");
    else if (result.notes == 0)
        result.failure = QStringLiteral("no note files in %1").arg(folder);
    return result;
}

ZNFVesperNote ZNFVesperNoteImporter::processNoteAtURL(const QString& file) {
    QString text;
    QFile in(file);
    if (in.open(QIODevice::ReadOnly)) {
        // Invalid UTF-8 keeps its text, with replacement characters where bytes do not decode.
        text = QString::fromUtf8(in.readAll());
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
    } else {
        ZNFLogf("Vesper importer: cannot read %@, converted as an empty note", file);
    }
    ZNFVesperNote note = structuredDataFromNote(text, file);
    // Vesper's exporter gave each note file its note's modification time.
    const QDateTime modified = QFileInfo(file).lastModified();
    note.fileModified = modified.isValid() ? ZNFDate::fromDateTime(modified) : ZNFDate::now();
    return note;
}

ZNFVesperNote ZNFVesperNoteImporter::structuredDataFromNote(const QString& text, const QString& file) {
    ZNFVesperNote note;
    note.path = file;
    auto takeLine = [&](QStringView line) {
        for (const char* label : kLabels) {
            const QLatin1String key(label);
            if (line.startsWith(key)) {
                note.fields.insert(key, line.mid(key.size()).toString());
                return;
            }
        }
        if (!isBlankLine(line)) {
            note.text += line;
            note.text += u'\n';
        }
    };
    const QStringView all(text);
    qsizetype start = 0;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const char16_t c = all[i].unicode();
        if (!isLineBreak(c))
            continue;
        takeLine(all.mid(start, i - start));
        if (c == u'\r' && i + 1 < all.size() && all[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < all.size())
        takeLine(all.mid(start));
    return note;
}

QJsonArray ZNFVesperNoteImporter::entriesFromNoteData(const std::vector<ZNFVesperNote>& notes,
                                                      const QString& path) {
    QJsonArray entries;
    for (const ZNFVesperNote& note : notes)
        for (const QJsonValue& entry : entriesForNote(note, path))
            entries.append(entry);
    return entries;
}

QJsonArray ZNFVesperNoteImporter::entriesForNote(const ZNFVesperNote& note, const QString& path) {
    QJsonObject entry;
    entry.insert(QLatin1String(ZNFBackupEntryKey_kind), QLatin1String(ZNFBackupEntryKind_note));
    entry.insert(QLatin1String(ZNFBackupEntryKey_state), 0);
    entry.insert(QLatin1String(ZNFBackupEntryKey_identifier), uuidForNote(note));
    entry.insert(QLatin1String(ZNFBackupEntryKey_body), textForNote(note));
    entry.insert(QLatin1String(ZNFBackupEntryKey_date),
                 epochJSONValue(epochDateForKey(ZNFVesperNoteImporterKey_created, note)));
    entry.insert(QLatin1String(ZNFBackupEntryKey_updatedDate),
                 epochJSONValue(epochDateForKey(ZNFVesperNoteImporterKey_modified, note)));
    QJsonArray entries{entry};
    if (note.field(ZNFVesperNoteImporterKey_picture)) {
        if (auto picture = pictureEntryForNote(note, entry, ZNFBackupArchive::resourcesFolder(path)))
            entries.append(*picture);
    }
    return entries;
}

QString ZNFVesperNoteImporter::textForNote(const ZNFVesperNote& note) {
    QString text = note.text;
    const QString tags = note.field(ZNFVesperNoteImporterKey_tags).value_or(QString());
    if (tags.isEmpty())
        return text;
    text += u'\n';
    const QStringList list = tagsFromVesperTagField(tags);
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0)
            text += u' ';
        text += u'#';
        text += list[i];
    }
    return text;
}

QStringList ZNFVesperNoteImporter::tagsFromVesperTagField(const QString& value) {
    QStringList tags = value.split(QStringLiteral(", "), Qt::KeepEmptyParts);
    for (QString& tag : tags)
        tag = tag.remove(u' ').toLower();
    return tags;
}

double ZNFVesperNoteImporter::epochDateForKey(const char* label, const ZNFVesperNote& note) {
    std::optional<ZNFDate> date;
    if (const auto value = note.field(label))
        date = dateFromString(*value);
    return epochRepresentation(date.value_or(note.fileModified));
}

QString ZNFVesperNoteImporter::uuidForNote(const ZNFVesperNote& note) {
    return QStringLiteral("VESPER_%1_%2")
        .arg(ZNFShortestNumber(epochDateForKey(ZNFVesperNoteImporterKey_created, note)), fileName(note.path));
}

bool ZNFVesperNoteImporter::isPictureFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(u'/') && !name.contains(u'\\') && !name.contains(QChar(0));
}

std::optional<QJsonObject> ZNFVesperNoteImporter::pictureEntryForNote(const ZNFVesperNote& note,
                                                                      const QJsonObject& parent,
                                                                      const QString& assetsFolder) {
    const QString name = note.field(ZNFVesperNoteImporterKey_picture).value_or(QString());
    if (!isPictureFileName(name)) {
        ZNFLogf("Vesper importer: \"%@\" in %@ is not a picture's file name, the note keeps no picture", name,
                note.path);
        return std::nullopt;
    }
    const QString pictures = QDir(QFileInfo(note.path).absolutePath())
                                 .filePath(QLatin1String(ZNFVesperNoteImporter_picturesFolderName));
    const QFileInfo file(QDir(pictures).filePath(name));
    if (!file.isFile())
        return std::nullopt;
    // A link in "Pictures" may point anywhere; only what really lies inside is read.
    const QString inside = QFileInfo(pictures).canonicalFilePath() + u'/';
    if (inside.size() < 2 || !file.canonicalFilePath().startsWith(inside)) {
        ZNFLogf("Vesper importer: %@ leads out of the Pictures folder, not read", file.filePath());
        return std::nullopt;
    }
    const QImage image = ZNFImage::decodeFile(file.filePath());
    if (image.isNull())
        return std::nullopt;

    const QString parentId = parent.value(QLatin1String(ZNFBackupEntryKey_identifier)).toString();
    const QString binaryId = ZNFPaths::newUUIDString();
    // An entry whose file is missing would make a broken archive: no file, no entry.
    if (!ZNFBackupArchive::writeImage(image, QDir(assetsFolder).filePath(binaryId))) {
        ZNFLogf("Vesper importer: could not write the picture %@ into the archive", file.filePath());
        return std::nullopt;
    }
    QJsonObject entry;
    entry.insert(QLatin1String(ZNFBackupEntryKey_parentId), parentId);
    entry.insert(QLatin1String(ZNFBackupEntryKey_identifier), QStringLiteral("%1_%2").arg(parentId, name));
    entry.insert(QLatin1String(ZNFBackupEntryKey_date), parent.value(QLatin1String(ZNFBackupEntryKey_date)));
    entry.insert(QLatin1String(ZNFBackupEntryKey_updatedDate),
                 parent.value(QLatin1String(ZNFBackupEntryKey_updatedDate)));
    entry.insert(QLatin1String(ZNFBackupEntryKey_kind), QLatin1String(ZNFBackupEntryKind_image));
    entry.insert(QLatin1String(ZNFBackupEntryKey_binaryAttachmentId), binaryId);
    entry.insert(QLatin1String(ZNFBackupEntryKey_state), 0);
    entry.insert(QLatin1String(ZNFBackupEntryKey_userInfo),
                 ZNFBackupArchive::userInfoForSize(ZNFImage::sizeInPoints(image)));
    return entry;
}

std::optional<ZNFDate> ZNFVesperNoteImporter::dateFromString(const QString& value) {
    static const QString format = QLatin1String(ZNFVesperNoteImporter_dateFormat);
    QString text = value.trimmed();
    // Newer systems put a narrow no-break space before AM/PM.
    text.replace(QChar(0x202F), u' ').replace(QChar(0x00A0), u' ');
    for (const QLocale& locale : {QLocale(), QLocale::c()}) {
        const QDateTime date = locale.toDateTime(text, format);
        if (date.isValid())
            return ZNFDate::fromDateTime(date);
    }
    return std::nullopt;
}
