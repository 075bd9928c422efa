// A note's <content> as an .enex holds it: repaired into ENML and read as text, then the same
// bytes as the content of one note of an export between two good ones, then as a whole .enex.

#include "FuzzSupport.h"

#include "conversion/ZNFEvernoteImporter.h"

#include <QFile>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

QByteArray goodNote(const QByteArray& title) {
    return "<note><title>" + title + "</title><content><![CDATA[<en-note><div>" + title +
           "</div></en-note>]]></content><created>20200102T030405Z</created></note>\n";
}

QString writeInput(const QString& name, const QByteArray& bytes) {
    const QString path = NCFuzz::environment().root() + u'/' + name;
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
               file.errorString());
    return path;
}

void checkOutcome(const ZNFConversionOutcome& result) {
    if (result.notes < 1)
        return;
    const NCFuzz::Archive archive = NCFuzz::checkArchive(result.path);
    FUZZ_CHECK(archive.notes == result.notes && archive.images == result.attachments,
               QStringLiteral("%1 notes, %2 images").arg(archive.notes).arg(archive.images));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NCFuzz::environment();
    const QByteArray input = NCFuzz::bytes(data, size);

    // The text alone: every picture it places is a U+FFFC in it, and it is trimmed.
    const ZNFEvernoteImporter::Text text =
        ZNFEvernoteImporter::enmlToText(ZNFEvernoteImporter::contentENML(input));
    FUZZ_CHECK(qsizetype(text.pictures.size()) <= text.text.count(QChar(0xFFFC)),
               QStringLiteral("%1 pictures placed").arg(text.pictures.size()));
    FUZZ_CHECK(!text.text.startsWith(u'\n') && (text.text.isEmpty() || !text.text.back().isSpace()),
               text.text);

    // One note of an export: whatever it holds, the note before it comes through.
    const QByteArray enex =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<en-export>\n" + goodNote("First") +
        "<note><title>Fuzzed</title><content>" + input +
        "</content><resource><data>R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw=="
        "</data><mime>image/gif</mime></resource></note>\n" +
        goodNote("Last") + "</en-export>\n";
    const ZNFConversionOutcome inExport = ZNFEvernoteImporter::convert({writeInput(u"note.enex"_s, enex)});
    FUZZ_CHECK(inExport.notes >= 1, inExport.failure);
    checkOutcome(inExport);

    // The bytes as a whole file.
    checkOutcome(ZNFEvernoteImporter::convert({writeInput(u"whole.enex"_s, input)}));
    return 0;
}
