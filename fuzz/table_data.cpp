// A table's or a scan's data as a Notes store keeps it (the attachment's ZMERGEABLEDATA1): a
// gzip'd CRDT document whose objects point at each other by index; both readers get each input. The first
// byte picks how the rest is used: even, as the stored bytes themselves; odd, as the document, gzipped here
// first.

#include "StoredData.h"

#include "conversion/ZNFNotesFolderReader.h"

#include <QSet>
#include <QUuid>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QByteArray> input = NCFuzz::storedData(data, size);
    if (!input)
        return 0;
    const QByteArray& stored = *input;

    ZNFNotesFolderLimits limits;
    limits.noteMessageBytes = 1 << 20;
    limits.tableCells = 4096;
    limits.galleryPages = 256;
    QString pagesFailure;
    if (const auto pages = ZNFNotesFolderReader::galleryPages(stored, &pagesFailure, limits)) {
        FUZZ_CHECK(pagesFailure.isEmpty(), QStringLiteral("pages and a failure: ") + pagesFailure);
        FUZZ_CHECK(pages->size() <= limits.galleryPages, QStringLiteral("more pages than places read"));
        FUZZ_CHECK(pages->size() == QSet<QString>(pages->begin(), pages->end()).size(),
                   QStringLiteral("a page listed twice"));
        for (const QString& page : *pages)
            FUZZ_CHECK(!QUuid::fromString(page).isNull() || page == QUuid().toString(QUuid::WithoutBraces),
                       QStringLiteral("a page that is no UUID: ") + page);
    } else {
        FUZZ_CHECK(!pagesFailure.isEmpty(), QStringLiteral("no pages and no failure"));
    }

    QString failure;
    const auto rows = ZNFNotesFolderReader::tableRows(stored, &failure, limits);
    FUZZ_CHECK(rows.has_value() == failure.isEmpty(), QStringLiteral("rows and a failure: ") + failure);
    if (!rows)
        return 0;
    // Every row has a cell for every column, and no more cells than the limit.
    qint64 cells = 0;
    for (const QStringList& row : *rows) {
        FUZZ_CHECK(row.size() == rows->front().size(), QStringLiteral("rows of different lengths"));
        cells += row.size();
        for (const QString& cell : row)
            FUZZ_CHECK(!cell.contains(u'\n'), QStringLiteral("a cell of more than one line"));
    }
    FUZZ_CHECK(cells <= limits.tableCells, QStringLiteral("more cells than the limit"));
    return 0;
}
