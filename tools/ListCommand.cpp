#include "conversion/ZNFBackupArchive.h"
#include "tools/ZNFCommandLine.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Local time with its offset: what the person's own clock said, and still exact.
QString dateText(const std::optional<QDateTime>& date) {
    if (!date)
        return {};
    const QDateTime local = date->toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

int ZNFRunList(const QStringList& arguments) {
    QStringList paths;
    bool json = false;
    for (const QString& argument : arguments) {
        if (argument == "--json"_L1)
            json = true;
        else if (argument.startsWith("--"_L1))
            return ZNFCommandOutput::fail(QStringLiteral("unknown option %1").arg(argument));
        else
            paths << argument;
    }
    if (paths.size() != 1)
        return ZNFCommandOutput::fail(QStringLiteral("list takes one ARCHIVE, and --json"));
    const ZNFBackupListing listing = ZNFBackupArchiveReader::read(paths.first());
    if (!listing.isOK())
        return ZNFCommandOutput::fail(
            QStringLiteral("%1 is not a readable backup archive: %2").arg(paths.first(), listing.failure));
    for (const ZNFBackupNote& note : listing.notes) {
        QByteArray line;
        if (json) {
            const QJsonObject object{
                {"date"_L1, note.modified ? QJsonValue(dateText(note.modified)) : QJsonValue()},
                {"pictures"_L1, note.pictures},
                {"firstLine"_L1, note.firstLine},
                {"identifier"_L1, note.identifier}};
            line = QJsonDocument(object).toJson(QJsonDocument::Compact);
        } else {
            // A tab inside the first line would shift its columns.
            QString first = note.firstLine;
            first.replace(u'\t', u' ');
            line = (note.modified ? dateText(note.modified) : QStringLiteral("-")).toUtf8() + '\t' +
                   QByteArray::number(note.pictures) + '\t' + first.toUtf8();
        }
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
    if (listing.unlistedEntries > 0)
        std::fprintf(stderr, "notecrate: %lld entries are too large to list\n",
                     static_cast<long long>(listing.unlistedEntries));
    return 0;
}
