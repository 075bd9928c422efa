#include "conversion/ZNFVesperNoteImporter.h"

#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFConversionJob.h"
#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFJSONAdditions.h"
#include "conversion/ZNFPicturePipeline.h"
#include "conversion/ZNFTemporaryFiles.h"
#include "platform/ZNFImage.h"
#include "platform/ZNFNumberFormat.h"
#include "platform/ZNFPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr QLatin1StringView kLabels[] = {ZNFVesperNoteImporterKey_picture, ZNFVesperNoteImporterKey_tags,
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

// "\n#tag #tag" for a note with a non-empty "Tags: " value, else nothing.
QString tagLine(const ZNFVesperNote& note) {
    const QString tags = note.field(ZNFVesperNoteImporterKey_tags).value_or(QString());
    if (tags.isEmpty())
        return {};
    QString line(u'\n');
    const QStringList list = ZNFVesperNoteImporter::tagsFromVesperTagField(tags);
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (i > 0)
            line += u' ';
        line += u'#';
        line += list[i];
    }
    return line;
}
} // namespace

std::optional<QString> ZNFVesperNote::field(QLatin1StringView label) const {
    const auto it = fields.constFind(label);
    if (it == fields.constEnd())
        return std::nullopt;
    return *it;
}

void ZNFVesperNoteImporter::importNotesAtURL(const QString& path, const ZNFImporterCompletion& completion) {
    if (completion)
        completion(convert(path));
}

ZNFVesperNoteImporter::CancelFlag
ZNFVesperNoteImporter::importNotesAtURLInBackground(const QString& path, ZNFImporterCompletion completion,
                                                    Progress progress) {
    auto* job = new ZNFConversionJob([path](const Progress& report, const CancelFlag& cancelled) {
        return convert(path, report, cancelled);
    });
    job->setAutoDelete(true);
    if (completion)
        QObject::connect(job, &ZNFConversionJob::finished, job, std::move(completion));
    if (progress)
        QObject::connect(job, &ZNFConversionJob::progress, job, std::move(progress));
    job->start();
    return job->cancelFlag();
}

ZNFConversionOutcome ZNFVesperNoteImporter::convert(const QString& path, const Progress& progress,
                                                    const CancelFlag& cancelled) {
    ZNFConversionOutcome result;
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
        return fileName(entry) == ZNFVesperNoteImporter_activeNotesFolderName && fileURLIsDirectory(entry);
    });
    if (activeNotes == entries->end()) {
        result.failure =
            QStringLiteral("no \"%1\" folder in %2").arg(ZNFVesperNoteImporter_activeNotesFolderName, top);
        return result;
    }
    return processVesperNoteFolder(*activeNotes, top, progress, cancelled);
}

QString ZNFVesperNoteImporter::topFolderForPath(const QString& chosen) {
    QString path = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
    const QLatin1StringView marker = ZNFVesperNoteImporter_topFolderMarker;
    if (!path.contains(marker) || fileName(path).contains(marker))
        return path;
    // The marker holds no "/", so some component of the path contains it and this ends.
    while (!fileName(path).contains(marker) && path != "/"_L1)
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

QStringList ZNFVesperNoteImporter::noteFilesInFolder(const QString& folder, const QString& top) {
    // The folder is listed once and each entry is judged by a stat of the entry itself, never
    // through a link: a note file is a regular file directly inside the folder, so it lies inside
    // the export exactly when the folder does, and no path is resolved per note.
    const QString inside = QFileInfo(top).canonicalFilePath() + u'/';
    const QString real = QFileInfo(folder).canonicalFilePath();
    const bool folderInside = inside.size() >= 2 && !real.isEmpty() && (real + u'/').startsWith(inside);
    QStringList noteFiles;
    for (const QString& path : filesAtURL(folder).value_or(QStringList())) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue; // gone since it was listed
        if (S_ISDIR(st.st_mode))
            continue; // "Pictures", or any other folder
        // Only regular files are notes: a pipe or device would block or never end, and a link
        // may lead anywhere on the machine.
        if (!S_ISREG(st.st_mode)) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Vesper importer: %1 is not a regular file, left out").arg(path);
            continue;
        }
        if (!folderInside) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Vesper importer: %1 lies outside the export, left out").arg(path);
            continue;
        }
        if (st.st_size > ZNFVesperNoteImporter_maxNoteFileBytes) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Vesper importer: %1 is larger than %2 bytes, left out")
                       .arg(path, QString::number(ZNFVesperNoteImporter_maxNoteFileBytes));
            continue;
        }
        noteFiles << path;
    }
    return noteFiles;
}

namespace {

struct EncodedPicture {
    QByteArray png; // empty when the file was not a usable picture
    QSizeF points;
};

EncodedPicture encodePicture(const QString& path) {
    const ZNFImage::Decoded decoded = ZNFImage::decodeFileWithResolution(path);
    if (decoded.isNull())
        return {};
    EncodedPicture picture{ZNFImage::encodePNG(decoded.image), decoded.sizeInPoints()};
    if (picture.png.isEmpty())
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Vesper importer: could not encode the picture %1").arg(path);
    return picture;
}

} // namespace

ZNFConversionOutcome ZNFVesperNoteImporter::processVesperNoteFolder(const QString& folder, const QString& top,
                                                                    const Progress& progress,
                                                                    const CancelFlag& cancelled,
                                                                    int threads) {
    ZNFConversionOutcome result;
    auto isCancelled = [&cancelled] { return cancelled && cancelled->load(); };
    ZNFTemporaryFiles::removeLeftovers();
    const QStringList noteFiles = noteFilesInFolder(folder, top);
    const qint64 total = noteFiles.size();

    ZNFBackupArchiveWriter archive{ZNFVesperNoteImporter_archiveName};
    // Pictures first (stored in the archive as they come, in note order), then the index:
    // note by note, each note entry followed by its image entry.
    std::vector<std::optional<QJsonObject>> images(noteFiles.size());
    {
        ZNFPicturePipeline pipeline(threads > 0 ? threads : ZNFPicturePipeline::defaultThreadCount());
        for (qsizetype i = 0; i < noteFiles.size(); ++i) {
            if (isCancelled() || !archive.isOK())
                break;
            const ZNFVesperNote note = processNoteAtURL(noteFiles[i]);
            const QString picture =
                note.field(ZNFVesperNoteImporterKey_picture) ? picturePathForNote(note, top) : QString();
            if (!picture.isEmpty()) {
                const QJsonObject parent = noteEntryForNote(note);
                const QString name = note.field(ZNFVesperNoteImporterKey_picture).value_or(QString());
                const QSize pixels = QImageReader(picture).size();
                const qint64 cost = pixels.isValid() ? qint64(pixels.width()) * pixels.height() * 4 : 0;
                pipeline.submit(cost, [&, i, picture, parent, name]() -> ZNFPicturePipeline::Delivery {
                    auto encoded = std::make_shared<EncodedPicture>(encodePicture(picture));
                    return [&, i, encoded, parent, name] {
                        if (encoded->png.isEmpty())
                            return;
                        const QString binaryId = ZNFPaths::newUUIDString();
                        // An entry whose file is missing would make a broken archive.
                        if (archive.addResource(binaryId, encoded->png))
                            images[size_t(i)] = imageEntry(parent, name, binaryId, encoded->points);
                    };
                });
            }
            if (progress)
                progress(i + 1, total);
        }
        if (isCancelled())
            pipeline.abandon();
        else
            pipeline.finish();
    }
    for (qsizetype i = 0; i < noteFiles.size() && archive.isOK() && !isCancelled(); ++i) {
        ZNFVesperNote note = processNoteAtURL(noteFiles[i]);
        const QJsonObject entry = noteEntryForNote(note);
        // Moved, not copied: a long note is held once while it is written.
        QString body = std::move(note.text);
        body += tagLine(note);
        archive.addEntry(entry, body);
        ++result.notes;
        if (images[size_t(i)]) {
            archive.addEntry(*images[size_t(i)]);
            ++result.attachments;
        }
    }
    if (isCancelled()) {
        archive.abort();
        result = {};
        result.cancelled = true;
        result.failure = QStringLiteral("the conversion was cancelled");
        return result;
    }
    result.path = archive.commit();
    if (result.path.isEmpty())
        result.failure = QStringLiteral("the archive could not be written: %1").arg(archive.failure());
    else if (result.notes == 0)
        result.failure = QStringLiteral("no notes were found in %1").arg(folder);
    return result;
}

ZNFVesperNote ZNFVesperNoteImporter::processNoteAtURL(const QString& file) {
    QByteArray bytes;
    std::optional<ZNFDate> modified;
    // Not through a link, and never waiting on a pipe put in the file's place since the folder
    // was listed; the one stat of the open file gives its size and time.
    const int fd =
        ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    bool read = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (read) {
        // Vesper's exporter gave each note file its note's modification time; to the millisecond,
        // as the file's time has always been read.
        modified = ZNFDate{double(qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000) / 1000.0};
        // Sized by the file, not the limit: a buffer of the limit's size is set up for each note
        // otherwise.
        bytes.resize(qsizetype(std::min<qint64>(st.st_size, ZNFVesperNoteImporter_maxNoteFileBytes)));
        qsizetype filled = 0;
        while (filled < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            filled += got;
        }
        read = filled == bytes.size() || filled > 0;
        bytes.truncate(filled);
    }
    if (fd >= 0)
        ::close(fd);
    if (!read) {
        bytes.clear();
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Vesper importer: cannot read %1, converted as an empty note").arg(file);
    }
    // Moved: the note's lines are gathered in the very buffer the file was read into.
    ZNFVesperNote note = structuredDataFromNote(decodeNoteText(bytes), file);
    if (!modified) {
        const QDateTime time = QFileInfo(file).lastModified();
        modified = time.isValid() ? ZNFDate::fromDateTime(time) : ZNFDate::now();
    }
    note.fileModified = *modified;
    return note;
}

QString ZNFVesperNoteImporter::decodeNoteText(const QByteArray& bytes) {
    QString text;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const bool little = bytes.startsWith("\xFF\xFE");
        QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE);
        text = decoder.decode(QByteArrayView(bytes).sliced(2));
    } else {
        // Invalid UTF-8 keeps its text, with replacement characters where bytes do not decode.
        text = QString::fromUtf8(bytes);
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

ZNFVesperNote ZNFVesperNoteImporter::structuredDataFromNote(QString text, const QString& file) {
    ZNFVesperNote note;
    note.path = file;
    // The kept lines are moved to the front of the text itself: a line is never written past
    // where it was read, so a long note is held once.
    QChar* data = text.data();
    const qsizetype size = text.size();
    qsizetype kept = 0;
    bool lastNeedsBreak = false; // a kept last line without a line break of its own
    auto takeLine = [&](qsizetype start, qsizetype end) {
        const QStringView line(data + start, end - start);
        for (const QLatin1StringView label : kLabels) {
            if (line.startsWith(label)) {
                note.fields.insert(label, line.mid(label.size()).toString());
                return;
            }
        }
        if (isBlankLine(line))
            return;
        std::copy(data + start, data + end, data + kept);
        kept += end - start;
        if (end < size)
            data[kept++] = u'\n';
        else
            lastNeedsBreak = true;
    };
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i].unicode();
        if (!isLineBreak(c))
            continue;
        takeLine(start, i);
        if (c == u'\r' && i + 1 < size && data[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        takeLine(start, size);
    text.truncate(kept);
    if (lastNeedsBreak)
        text += u'\n';
    note.text = std::move(text);
    return note;
}

QJsonObject ZNFVesperNoteImporter::noteEntryForNote(const ZNFVesperNote& note) {
    QJsonObject entry;
    entry.insert(ZNFBackupEntryKey_kind, ZNFBackupEntryKind_note);
    entry.insert(ZNFBackupEntryKey_state, 0);
    entry.insert(ZNFBackupEntryKey_identifier, uuidForNote(note));
    entry.insert(ZNFBackupEntryKey_date,
                 epochJSONValue(epochDateForKey(ZNFVesperNoteImporterKey_created, note)));
    entry.insert(ZNFBackupEntryKey_updatedDate,
                 epochJSONValue(epochDateForKey(ZNFVesperNoteImporterKey_modified, note)));
    return entry;
}

QString ZNFVesperNoteImporter::textForNote(const ZNFVesperNote& note) {
    return note.text + tagLine(note);
}

QStringList ZNFVesperNoteImporter::tagsFromVesperTagField(const QString& value) {
    QStringList tags = value.split(QStringLiteral(", "), Qt::KeepEmptyParts);
    for (QString& tag : tags)
        tag = tag.remove(u' ').toLower();
    return tags;
}

double ZNFVesperNoteImporter::epochDateForKey(QLatin1StringView label, const ZNFVesperNote& note) {
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
    return !name.isEmpty() && name != "."_L1 && name != ".."_L1 && !name.contains(u'/') &&
           !name.contains(u'\\') && !name.contains(QChar(0));
}

QString ZNFVesperNoteImporter::picturePathForNote(const ZNFVesperNote& note, const QString& top) {
    const QString name = note.field(ZNFVesperNoteImporterKey_picture).value_or(QString());
    if (!isPictureFileName(name)) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral(
                   "Vesper importer: \"%1\" in %2 is not a picture's file name, the note keeps no picture")
                   .arg(name, note.path);
        return {};
    }
    const QFileInfo pictures(
        QDir(QFileInfo(note.path).absolutePath()).filePath(ZNFVesperNoteImporter_picturesFolderName));
    const QFileInfo file(QDir(pictures.filePath()).filePath(name));
    if (!file.exists() && !file.isSymLink())
        return {};
    // Only what really lies inside the export is read: no link, not even the folder.
    const QString export_ = QFileInfo(top).canonicalFilePath() + u'/';
    if (file.isSymLink() || pictures.isSymLink() || !file.isFile() || export_.size() < 2 ||
        !file.canonicalFilePath().startsWith(export_) ||
        !file.canonicalFilePath().startsWith(pictures.canonicalFilePath() + u'/')) {
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Vesper importer: %1 is a link or leads out of the export, not read")
                   .arg(file.filePath());
        return {};
    }
    return file.filePath();
}

QJsonObject ZNFVesperNoteImporter::imageEntry(const QJsonObject& parent, const QString& pictureName,
                                              const QString& binaryAttachmentId, const QSizeF& points) {
    const QString parentId = parent.value(ZNFBackupEntryKey_identifier).toString();
    QJsonObject entry;
    entry.insert(ZNFBackupEntryKey_parentId, parentId);
    entry.insert(ZNFBackupEntryKey_identifier, QStringLiteral("%1_%2").arg(parentId, pictureName));
    entry.insert(ZNFBackupEntryKey_date, parent.value(ZNFBackupEntryKey_date));
    entry.insert(ZNFBackupEntryKey_updatedDate, parent.value(ZNFBackupEntryKey_updatedDate));
    entry.insert(ZNFBackupEntryKey_kind, ZNFBackupEntryKind_image);
    entry.insert(ZNFBackupEntryKey_binaryAttachmentId, binaryAttachmentId);
    entry.insert(ZNFBackupEntryKey_state, 0);
    entry.insert(ZNFBackupEntryKey_userInfo, ZNFBackupArchive::userInfoForSize(points));
    return entry;
}

namespace {

// The words of a locale that Vesper's dates use, looked up once per locale and thread.
struct DateWords {
    QString locale;
    QString months[12];
    QString am, pm;
};

const DateWords& dateWords(const QLocale& locale) {
    thread_local DateWords cached[2]; // the user's locale and C, the two tried
    DateWords& words = cached[locale.language() == QLocale::C ? 1 : 0];
    if (words.locale != locale.name() || words.am.isEmpty()) {
        words.locale = locale.name();
        for (int month = 1; month <= 12; ++month)
            words.months[month - 1] = locale.monthName(month, QLocale::ShortFormat);
        words.am = locale.amText();
        words.pm = locale.pmText();
    }
    return words;
}

// Reads up to `most` digits at `at`, at least one.
std::optional<int> digits(QStringView text, qsizetype& at, int least, int most) {
    int value = 0, count = 0;
    while (at < text.size() && count < most && text[at].isDigit() && text[at].unicode() < 0x80) {
        value = value * 10 + (text[at].unicode() - u'0');
        ++at, ++count;
    }
    if (count < least)
        return std::nullopt;
    return value;
}

bool skip(QStringView text, qsizetype& at, QLatin1StringView what) {
    if (!text.sliced(at).startsWith(what))
        return false;
    at += what.size();
    return true;
}

// Vesper's own form, "Dec 5, 2015, 3:04 PM", read by hand: a date parser set up for each date
// was a fifth of the time of a text-only export. Anything else is left to the parser.
std::optional<QDateTime> vesperDateTime(QStringView text, const QLocale& locale) {
    const DateWords& words = dateWords(locale);
    const qsizetype space = text.indexOf(u' ');
    if (space <= 0)
        return std::nullopt;
    int month = 0;
    for (int m = 0; m < 12 && !month; ++m)
        if (text.first(space).compare(words.months[m], Qt::CaseInsensitive) == 0)
            month = m + 1;
    qsizetype at = space + 1;
    const auto day = digits(text, at, 1, 2);
    if (!month || !day || !skip(text, at, ", "_L1))
        return std::nullopt;
    const auto year = digits(text, at, 4, 4);
    if (!year || !skip(text, at, ", "_L1))
        return std::nullopt;
    const auto hour = digits(text, at, 1, 2);
    if (!hour || *hour < 1 || *hour > 12 || !skip(text, at, ":"_L1))
        return std::nullopt;
    const auto minute = digits(text, at, 2, 2);
    if (!minute || !skip(text, at, " "_L1))
        return std::nullopt;
    const QStringView meridiem = text.sliced(at);
    const bool am = meridiem.compare(words.am, Qt::CaseInsensitive) == 0;
    const bool pm = meridiem.compare(words.pm, Qt::CaseInsensitive) == 0;
    if (am == pm)
        return std::nullopt;
    const QDate date(*year, month, *day);
    const QTime time(*hour % 12 + (pm ? 12 : 0), *minute);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

} // namespace

std::optional<ZNFDate> ZNFVesperNoteImporter::dateFromString(const QString& value) {
    static const QString format = ZNFVesperNoteImporter_dateFormat;
    QString text = value.trimmed();
    // Newer systems put a narrow no-break space before AM/PM.
    text.replace(QChar(0x202F), u' ').replace(QChar(0x00A0), u' ');
    for (const QLocale& locale : {QLocale(), QLocale::c()}) {
        if (const auto date = vesperDateTime(text, locale); date && date->isValid())
            return ZNFDate::fromDateTime(*date);
    }
    for (const QLocale& locale : {QLocale(), QLocale::c()}) {
        const QDateTime date = locale.toDateTime(text, format);
        if (date.isValid())
            return ZNFDate::fromDateTime(date);
    }
    return std::nullopt;
}
