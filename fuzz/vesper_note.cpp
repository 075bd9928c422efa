// A Vesper note file's text, converted as part of a whole export: fields and text lines,
// tags, dates, the picture it names and the archive that comes out.

#include "FuzzSupport.h"

#include "conversion/ZNFVesperNoteImporter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr QLatin1StringView kLabels[] = {ZNFVesperNoteImporterKey_picture, ZNFVesperNoteImporterKey_tags,
                                         ZNFVesperNoteImporterKey_created, ZNFVesperNoteImporterKey_modified};

struct Export {
    QString top, notes, noteFile;
};

// An export whose "Pictures" holds one real picture ("a.png"), a file that is no picture
// ("broken.png") and a link that leads out of the folder ("link.png"); beside the export lies
// a picture that no note may reach ("outside.png").
const Export& exportFolder() {
    static const Export folder = [] {
        Export e;
        const QString root = NCFuzz::environment().root();
        e.top = root + QStringLiteral("/My Vesper Export");
        e.notes = e.top + QStringLiteral("/Active Notes");
        e.noteFile = e.notes + QStringLiteral("/Note.txt");
        QDir().mkpath(e.notes + QStringLiteral("/Pictures"));
        QImage image(3, 2, QImage::Format_RGB32);
        image.fill(Qt::red);
        image.save(e.notes + QStringLiteral("/Pictures/a.png"));
        image.save(root + QStringLiteral("/outside.png"));
        writeFile(e.notes + QStringLiteral("/Pictures/broken.png"), "not a picture");
        QFile::link(root + QStringLiteral("/outside.png"), e.notes + QStringLiteral("/Pictures/link.png"));
        return e;
    }();
    return folder;
}

// Blank as the export's reader sees it: Unicode separators, tab, LF to CR and NEL.
bool isBlank(QChar c) {
    const char16_t u = c.unicode();
    if (u == u'\t' || (u >= 0x0A && u <= 0x0D) || u == 0x85)
        return true;
    return c.category() == QChar::Separator_Space || c.category() == QChar::Separator_Line ||
           c.category() == QChar::Separator_Paragraph;
}

bool startsWithLabel(const QString& line) {
    for (const QLatin1StringView label : kLabels)
        if (line.startsWith(label))
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Export& folder = exportFolder();
    const QByteArray input = NCFuzz::bytes(data, size);

    // The parse alone: no field line is text, every text line holds something and ends in "\n".
    const QString text = ZNFVesperNoteImporter::decodeNoteText(input);
    const ZNFVesperNote note = ZNFVesperNoteImporter::structuredDataFromNote(text, folder.noteFile);
    FUZZ_CHECK(note.text.isEmpty() || note.text.endsWith(u'\n'), note.text);
    QStringList lines = note.text.split(u'\n');
    lines.removeLast();
    for (const QString& line : lines) {
        FUZZ_CHECK(std::any_of(line.begin(), line.end(), [](QChar c) { return !isBlank(c); }),
                   QStringLiteral("a blank line became text"));
        FUZZ_CHECK(!startsWithLabel(line), QStringLiteral("a field line became text: ") + line);
        for (QChar c : line)
            FUZZ_CHECK(c != u'\r' && c != QChar(0x85) && c != QChar(0x2028) && c != QChar(0x2029),
                       QStringLiteral("a line break inside a text line"));
    }
    for (auto it = note.fields.cbegin(); it != note.fields.cend(); ++it)
        FUZZ_CHECK(startsWithLabel(it.key()) && !it.value().contains(u'\n'), it.key() + it.value());
    const QString body = ZNFVesperNoteImporter::textForNote(note);
    FUZZ_CHECK(body.startsWith(note.text), QStringLiteral("the body lost its text"));

    // The whole conversion of an export that holds this one note.
    QFile file(folder.noteFile);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(input) == input.size(),
               file.errorString());
    file.close();
    const ZNFConversionOutcome result = ZNFVesperNoteImporter::convert(folder.noteFile);
    FUZZ_CHECK(!result.path.isEmpty() && result.notes == 1, result.failure);
    FUZZ_CHECK(result.attachments == 0 || result.attachments == 1, QString::number(result.attachments));

    const NCFuzz::Archive archive = NCFuzz::checkArchive(result.path);
    FUZZ_CHECK(archive.notes == 1 && archive.images == result.attachments,
               QStringLiteral("%1 notes, %2 images").arg(archive.notes).arg(archive.images));
    const QJsonObject entry = archive.entries.at(0).toObject();
    FUZZ_CHECK(entry.value("kind"_L1).toString() == "note"_L1,
               QStringLiteral("the note entry does not come first"));
    FUZZ_CHECK(entry.value("body"_L1).toString() == NCFuzz::withPairedSurrogates(body),
               QStringLiteral("the archived body differs from the parsed one"));
    const QString identifier = entry.value("identifier"_L1).toString();
    FUZZ_CHECK(identifier.startsWith("VESPER_"_L1) && identifier.endsWith("_Note.txt"_L1), identifier);
    for (const QLatin1StringView key : {"date"_L1, "updatedDate"_L1})
        FUZZ_CHECK(entry.value(key).isDouble() && std::isfinite(entry.value(key).toDouble()), key);
    if (archive.images == 1) {
        // Only the real picture inside "Pictures" may ever be read.
        FUZZ_CHECK(note.field(ZNFVesperNoteImporterKey_picture) == QStringLiteral("a.png"),
                   QStringLiteral("a picture came from ") +
                       note.field(ZNFVesperNoteImporterKey_picture).value_or(QString()));
        const QJsonObject image = archive.entries.at(1).toObject();
        FUZZ_CHECK(image.value("parentId"_L1).toString() == identifier &&
                       image.value("identifier"_L1).toString() == identifier + QStringLiteral("_a.png"),
                   image.value("identifier"_L1).toString());
    }
    return 0;
}
