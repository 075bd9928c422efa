#include "tools/ZNFCommandLine.h"

#include "conversion/ZNFConversionOutcome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace ZNFCommandOutput {

int fail(const QString& reason) {
    std::fprintf(stderr, "notecrate: %s\n", reason.toLocal8Bit().constData());
    std::fflush(stderr);
    return 1;
}

void progress(const QString& text) {
    if (!::isatty(STDERR_FILENO))
        return;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int printConversion(const ZNFConversionOutcome& outcome) {
    if (outcome.path.isEmpty())
        return fail(outcome.failure.isEmpty() ? QStringLiteral("no archive was written") : outcome.failure);
    // Built by hand to keep the documented key order.
    const QByteArray pathJSON =
        QJsonDocument(QJsonArray{outcome.path}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
    std::printf("{\"path\":%s,\"notes\":%lld,\"attachments\":%lld}\n", pathJSON.constData(),
                static_cast<long long>(outcome.notes), static_cast<long long>(outcome.attachments));
    std::fflush(stdout);
    if (!outcome.succeeded())
        return fail(outcome.failure.isEmpty() ? QStringLiteral("no notes were found") : outcome.failure);
    return 0;
}

} // namespace ZNFCommandOutput

namespace {
const char* kUsage = "usage:\n"
                     "  notecrate                           open the window\n"
                     "  notecrate convert vesper PATH       convert a Vesper export folder\n"
                     "  notecrate convert notes             convert the Notes app's notes (macOS)\n"
                     "  notecrate convert notes --from DIR  convert a copied Notes folder (any system)\n"
                     "  notecrate send [ARCHIVE]            send an archive to the phone\n"
                     "  notecrate receive DIR               receive an archive, as the phone does\n";
}

int ZNFRunCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty())
        return -1;
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == "convert"_L1) {
        if (rest.value(0) == "vesper"_L1)
            return ZNFRunConvertVesper(rest.mid(1));
        if (rest.value(0) == "notes"_L1)
            return ZNFRunConvertNotes(rest.mid(1));
        std::fputs(kUsage, stderr);
        return ZNFCommandOutput::fail(
            QStringLiteral("convert needs a source: vesper PATH, notes or notes --from DIR"));
    }
    if (command == "send"_L1)
        return ZNFRunSend(rest);
    if (command == "receive"_L1)
        return ZNFRunReceive(rest);
    if (command == "help"_L1 || command == "--help"_L1 || command == "-h"_L1) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fputs(kUsage, stderr);
    return ZNFCommandOutput::fail(QStringLiteral("unknown command \"%1\"").arg(command));
}
