// A notes export file as the script leaves it on the Desktop: taken and streamed by the
// extractor one element at a time, turned into note entries and, through a stand-in Notes
// store, image entries and their PNG files. The stream must hand over exactly the elements
// that parsing the whole file at once gives, and fail where that fails.

#include "FuzzSupport.h"
#include "conversion/support/attachments_fixture.h"

#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFNotesExtractor.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

// Primary keys 1 to 3 and -1 (a key is read signed) are usable images; the other rows are traps: identifiers
// that would leave "resources" or name nothing, files that are empty or no picture, types without images.
void makeStandInStore() {
    using AttachmentsFixture::png;
    const QByteArray picture = png(AttachmentsFixture::cornerImage(12, 8));
    AttachmentsFixture::createStore({
        {1, QStringLiteral("IMG-PNG"), QStringLiteral("public.png")},
        {2, QStringLiteral("IMG-JPG"), QStringLiteral("public.jpeg")},
        {3, QStringLiteral("SKETCH"), QStringLiteral("com.apple.notes.sketch")},
        {4, QStringLiteral("../escape"), QStringLiteral("public.png")},
        {5, QStringLiteral("a/b"), QStringLiteral("public.png")},
        {6, QString(), QStringLiteral("public.png")},
        {7, QStringLiteral(".."), QStringLiteral("public.jpeg")},
        {8, QStringLiteral("EMPTY"), QStringLiteral("public.png")},
        {9, QStringLiteral("NOTPIC"), QStringLiteral("public.png")},
        {10, QStringLiteral("GIF"), QStringLiteral("com.compuserve.gif")},
        {11, std::nullopt, QStringLiteral("public.png")},
        {12, QStringLiteral("NOTYPE"), std::nullopt},
        {-1, QStringLiteral("NEGATIVE"), QStringLiteral("public.png")},
    });
    AttachmentsFixture::writeMedia(QStringLiteral("IMG-PNG"), QStringLiteral("full.png"), picture);
    AttachmentsFixture::writeMedia(QStringLiteral("EMPTY"), QStringLiteral("zero.png"), QByteArray());
    AttachmentsFixture::writeMedia(QStringLiteral("NOTPIC"), QStringLiteral("x.png"), "garbage");
    AttachmentsFixture::writeMedia(QStringLiteral("escape"), QStringLiteral("e.png"), picture);
    AttachmentsFixture::writePreview(QStringLiteral("IMG-JPG-1.png"), picture);
    AttachmentsFixture::writePreview(QStringLiteral("SKETCH-large.png"), picture);
    AttachmentsFixture::writePreview(QStringLiteral("..-1.png"), picture);
    AttachmentsFixture::writePreview(QStringLiteral("NEGATIVE.png"), picture);
}

bool isTrimmable(QChar c) {
    return c.isSpace() || c == QChar(0xFFFC);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        NCFuzz::environment();
        makeStandInStore();
        QDir().mkpath(QFileInfo(ZNFNotesExtractor::exportFilePath()).path());
        return true;
    }();
    Q_UNUSED(ready);

    const QByteArray input = NCFuzz::bytes(data, size);
    FUZZ_CHECK(writeFile(ZNFNotesExtractor::exportFilePath(), input), ZNFNotesExtractor::exportFilePath());
    QString error;
    const ZNFNotesExport file = ZNFNotesExtractor::takeExport(error);
    FUZZ_CHECK(!QFile::exists(ZNFNotesExtractor::exportFilePath()), QStringLiteral("the export file stayed"));
    FUZZ_CHECK(file && error.isEmpty(), QStringLiteral("the export was not taken: ") + error);

    QJsonParseError parseError{};
    const QJsonDocument whole = QJsonDocument::fromJson(input, &parseError);
    const bool isArray = parseError.error == QJsonParseError::NoError && whole.isArray();

    ZNFNotesAppImporter importer;
    importer.setAttachmentThreadCount(1);
    QString path;
    qint64 noteCount = -1, attachmentCount = -1;
    int calls = 0;
    bool streamed = false;
    QString failure;
    importer.processRecords(
        [&](const ZNFNoteRecordTake& take, QString* why) {
            streamed = ZNFNotesExtractor::readRecords(*file, take, why);
            failure = why ? *why : QString();
            return streamed;
        },
        [&](const ZNFConversionOutcome& o) {
            path = o.path;
            noteCount = o.notes;
            attachmentCount = o.attachments;
            ++calls;
        });
    FUZZ_CHECK(calls == 1, QStringLiteral("completion called %1 times").arg(calls));
    // Only nesting past the stream's own limit (below Qt's) may fail what parses whole.
    FUZZ_CHECK(streamed == isArray || (isArray && failure.contains("nested deeper"_L1)),
               QStringLiteral("streamed %1, whole %2: %3 / %4")
                   .arg(streamed)
                   .arg(isArray)
                   .arg(failure, parseError.errorString()));

    const QJsonArray records = streamed ? whole.array() : QJsonArray();
    QList<QJsonObject> objects;
    for (const QJsonValue& record : records)
        if (record.isObject())
            objects << record.toObject();
    FUZZ_CHECK(noteCount == objects.size(),
               QStringLiteral("%1 notes of %2").arg(noteCount).arg(objects.size()));

    const NCFuzz::Archive archive = NCFuzz::checkArchive(path);
    FUZZ_CHECK(archive.notes == objects.size(),
               QStringLiteral("%1 note entries for %2 records").arg(archive.notes).arg(objects.size()));
    FUZZ_CHECK(attachmentCount == archive.images,
               QStringLiteral("%1 attachments counted").arg(attachmentCount));

    static const QSet<QString> usable = {QStringLiteral("IMG-PNG"), QStringLiteral("IMG-JPG"),
                                         QStringLiteral("SKETCH"), QStringLiteral("NEGATIVE")};
    for (int i = 0; i < archive.entries.size(); ++i) {
        const QJsonObject entry = archive.entries.at(i).toObject();
        if (i < archive.notes) {
            // Notes first, one per record and in record order.
            const QJsonObject& record = objects.at(i);
            FUZZ_CHECK(entry.value("kind"_L1) == "note"_L1, QStringLiteral("image before note"));
            const QJsonValue text = record.value("text"_L1);
            if (text.isString()) {
                const QString body = entry.value("body"_L1).toString();
                FUZZ_CHECK(body ==
                               NCFuzz::withPairedSurrogates(ZNFNotesAppImporter::cleanBody(text.toString())),
                           QStringLiteral("body"));
                FUZZ_CHECK(body.isEmpty() || (!isTrimmable(body.front()) && !isTrimmable(body.back())),
                           QStringLiteral("the body was not trimmed"));
            } else if (!text.isUndefined() && !text.isNull()) {
                FUZZ_CHECK(entry.value("body"_L1) == text, QStringLiteral("a non-string text changed"));
            }
            const QJsonValue id = record.value("id"_L1);
            if (!id.isUndefined() && !id.isNull())
                FUZZ_CHECK(entry.value("identifier"_L1) == id, QStringLiteral("identifier"));
            else
                FUZZ_CHECK(!entry.contains("identifier"_L1), QStringLiteral("invented identifier"));
            continue;
        }
        const QString file = entry.value("binaryAttachmentId"_L1).toString();
        FUZZ_CHECK(usable.contains(file), QStringLiteral("an image from the trap row ") + file);
        const QString identifier = entry.value("identifier"_L1).toString();
        FUZZ_CHECK(!identifier.contains(u'/') && !identifier.contains(u':'), identifier);
    }
    return 0;
}
