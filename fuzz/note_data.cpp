// A note's data as a Notes store keeps it (ZICNOTEDATA.ZDATA): gzip'd protocol buffers, decoded
// into the note's text. The first byte picks how the rest is used: even, as the stored bytes
// themselves; odd, as the message, gzipped here first, so that the fuzzer reaches the message
// parser without having to forge gzip checksums.

#include "StoredData.h"

#include "conversion/ZNFNotesFolderReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QByteArray> input = NCFuzz::storedData(data, size);
    if (!input)
        return 0;
    const QByteArray& stored = *input;

    // A small ceiling keeps each run quick; the limit logic is the same at any size.
    ZNFNotesFolderLimits limits;
    limits.noteMessageBytes = 1 << 20;
    QString failure;
    const std::optional<QString> text = ZNFNotesFolderReader::noteText(stored, &failure, limits);
    FUZZ_CHECK(text.has_value() == failure.isEmpty(), QStringLiteral("a text and a failure: ") + failure);
    if (!text)
        return 0;
    // Whatever was read is a note text that reads back the same once stored again.
    QString again;
    const std::optional<QString> reread =
        ZNFNotesFolderReader::noteText(NotesStoreFixture::noteData(*text), &again);
    FUZZ_CHECK(reread && *reread == *text, QStringLiteral("the text did not read back: ") + again);
    return 0;
}
