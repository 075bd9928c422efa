// A backup archive read back for the list of its notes: any file may be chosen, so the zip, its
// index and every entry in it are the input.

#include "FuzzSupport.h"

#include "conversion/ZNFBackupArchive.h"

#include <QFile>

namespace {

// Small enough that a run stays quick, large enough that the fuzzer reaches each limit.
ZNFBackupArchiveLimits limits() {
    ZNFBackupArchiveLimits limits;
    limits.members = 64;
    limits.indexBytes = 1 << 20;
    limits.entries = 1000;
    limits.entryBytes = 64 * 1024;
    limits.seconds = 5;
    return limits;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = NCFuzz::environment().root() + QStringLiteral("/chosen.notebackup");
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), path);
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const ZNFBackupArchiveLimits bounds = limits();
    const ZNFBackupListing listing = ZNFBackupArchiveReader::read(path, bounds);
    if (!listing.isOK()) {
        FUZZ_CHECK(listing.notes.empty(), QStringLiteral("a refused archive still lists notes"));
        return 0;
    }
    FUZZ_CHECK(qint64(listing.notes.size()) <= bounds.entries, QStringLiteral("more notes than the limit"));
    for (const ZNFBackupNote& note : listing.notes) {
        // The cut line ends with one "…" past the limit.
        FUZZ_CHECK(note.firstLine.size() <= ZNFBackupArchiveReader_maxFirstLineLength + 1, note.firstLine);
        FUZZ_CHECK(!note.firstLine.contains(QLatin1Char('\n')), note.firstLine);
        FUZZ_CHECK(note.pictures >= 0, QStringLiteral("a negative picture count"));
        FUZZ_CHECK(note.pictures <= listing.pictures,
                   QStringLiteral("a note has more pictures than the archive"));
    }
    return 0;
}
