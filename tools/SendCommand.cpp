// notecrate send [ARCHIVE]: what "Send Wirelessly" does, without the window, through the same
// ZNFWirelessSender: the archive goes to the first phone that connects and the command ends
// when that phone has confirmed all of it, or has failed.
#include "tools/ZNFCommandLine.h"

#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "multipeer/ZNFTransferEstimate.h"
#include "multipeer/ZNFWirelessSender.h"
#include "platform/ZNFPaths.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

QString ZNFLatestArchive() {
    QString best;
    QDateTime bestTime;
    for (const QLatin1StringView name :
         {ZNFNotesAppImporter_archiveName, ZNFVesperNoteImporter_archiveName}) {
        const QFileInfo info(QDir(ZNFPaths::cachesDirectory()).filePath(name));
        if (info.isFile() && (best.isEmpty() || info.lastModified() > bestTime)) {
            best = info.absoluteFilePath();
            bestTime = info.lastModified();
        }
    }
    return best;
}

int ZNFRunSend(const QStringList& commandLine) {
    ZNFPeerCommandOptions options;
    if (const std::optional<int> ended = ZNFStartPeerCommand(commandLine, &options))
        return *ended;
    const QStringList& arguments = options.arguments;
    if (arguments.size() > 1)
        return ZNFCommandOutput::fail(QStringLiteral("usage: notecrate send [--yes] [ARCHIVE]"));
    const QString archive =
        arguments.isEmpty() ? ZNFLatestArchive() : QFileInfo(arguments.first()).absoluteFilePath();
    if (archive.isEmpty())
        return ZNFCommandOutput::fail(
            QStringLiteral("no archive to send: convert first (notecrate convert ...) or name one"));
    const QFileInfo info(archive);
    if (!info.isFile() || !info.isReadable())
        return ZNFCommandOutput::fail(QStringLiteral("cannot read the archive %1").arg(archive));

    ZNFWirelessSender sender;
    int status = 1;
    QString text;
    QEventLoop loop;
    QObject::connect(&sender, &ZNFWirelessSender::invited, [](const ZNFPeerID& peer) {
        ZNFCommandOutput::progress(QStringLiteral("Invited by %1").arg(peer.displayName()));
    });
    // Runs on the main thread, so the prompt holds up nothing but this command.
    QObject::connect(&sender, &ZNFWirelessSender::confirmationNeeded, [&](const ZNFPeerID& phone) {
        QString refusal;
        if (ZNFConfirmNewPeer(
                options,
                QStringLiteral("Send to %1, code %2?").arg(phone.displayName(), phone.verificationCode()),
                &refusal)) {
            sender.confirm();
            return;
        }
        sender.cancel();
        text = refusal;
        loop.quit();
    });
    QObject::connect(&sender, &ZNFWirelessSender::sending, [&](const ZNFPeerID& phone) {
        ZNFCommandOutput::progress(
            QStringLiteral("Sending %1 to %2").arg(info.fileName(), phone.displayName()));
    });
    ZNFTransferEstimate estimate;
    QObject::connect(&sender, &ZNFWirelessSender::progressed, [&](qint64 sent, qint64 total) {
        ZNFCommandOutput::transferProgress(QStringLiteral("Sending"), sent, total, estimate);
    });
    QObject::connect(
        &sender, &ZNFWirelessSender::finished, [&](const ZNFPeerID& phone, const ZNFPeerError& error) {
            if (error.isNull()) {
                status = 0;
                const QJsonObject result{{QStringLiteral("sent"), archive},
                                         {QStringLiteral("bytes"), info.size()},
                                         {QStringLiteral("peer"), phone.displayName()}};
                text = QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact));
            } else {
                text = QStringLiteral("sending to %1 failed: %2").arg(phone.displayName(), error.message());
            }
            loop.quit();
        });
    sender.setEncryptionPreference(options.encryption);
    if (!sender.start(archive))
        return ZNFCommandOutput::fail(sender.startError().message());
    ZNFCommandOutput::progress(
        QStringLiteral("Waiting for the phone: advertising \"%1\" as %2 (Ctrl-C to stop)")
            .arg(ZNFWirelessSender_serviceType, ZNFPeerID::localHostName()));
    loop.exec();
    if (status != 0)
        return ZNFCommandOutput::fail(text);
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}
