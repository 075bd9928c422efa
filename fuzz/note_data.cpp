// A note's data as a Notes store keeps it (ZICNOTEDATA.ZDATA): gzip'd protocol buffers, decoded
// into the note's text. The first byte picks how the rest is used: even, as the stored bytes
// themselves; odd, as the message, gzipped here first, so that the fuzzer reaches the message
// parser without having to forge gzip checksums.

#include "FuzzSupport.h"
#include "conversion/support/notes_store_fixture.h"

#include "conversion/ZNFNotesFolderReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        NCFuzz::environment();
        return true;
    }();
    Q_UNUSED(ready);
    if (size == 0)
        return 0;
    QByteArray stored = NCFuzz::bytes(data + 1, size - 1);
    if (data[0] & 1)
        stored = NotesStoreFixture::gzip(stored);

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
