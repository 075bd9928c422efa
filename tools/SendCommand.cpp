// notecrate send [ARCHIVE]: what "Send Wirelessly" does, without the window. Advertises
// "sfn" with the computer's name, accepts the phone's invitation, sends the archive as a
// resource named by its file name once the phone is connected, and ends when the phone has
// confirmed what it stored.
#include "tools/ZNFCommandLine.h"
#include "tools/ZNFCommandOutcome_p.h"

#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "multipeer/ZNFMultipeerController.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFMainQueue.h"
#include "platform/ZNFPaths.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QPointer>
#include <atomic>
#include <cstdio>

namespace {

// The newer of the two archives the converters leave in the caches folder.
QString latestArchive() {
    QString best;
    QDateTime bestTime;
    for (const char* name : {ZNFNotesAppImporter_archiveName, ZNFVesperNoteImporter_archiveName}) {
        const QFileInfo info(QDir(ZNFPaths::cachesDirectory()).filePath(QLatin1String(name)));
        if (info.isFile() && (best.isEmpty() || info.lastModified() > bestTime)) {
            best = info.absoluteFilePath();
            bestTime = info.lastModified();
        }
    }
    return best;
}

// Prints a percentage at most every 5 points.
std::function<void(qint64, qint64)> percentPrinter(const QString& label) {
    auto last = std::make_shared<std::atomic<int>>(-1);
    return [label, last](qint64 done, qint64 total) {
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        int previous = last->load();
        if (percent >= previous + 5 || (percent == 100 && previous != 100)) {
            if (last->compare_exchange_strong(previous, percent))
                ZNFCommandOutput::progress(QStringLiteral("%1: %2%").arg(label).arg(percent));
        }
    };
}

// The outcome of a run, reported from the layer's threads. Shared with every handler, so a
// late callback after the command returned touches nothing that is gone.
using Outcome = ZNFCommandOutcome;

} // namespace

int ZNFRunSend(const QStringList& arguments) {
    if (arguments.size() > 1)
        return ZNFCommandOutput::fail(QStringLiteral("usage: notecrate send [ARCHIVE]"));
    const QString archive =
        arguments.isEmpty() ? latestArchive() : QFileInfo(arguments.first()).absoluteFilePath();
    if (archive.isEmpty())
        return ZNFCommandOutput::fail(
            QStringLiteral("no archive to send: convert first (notecrate convert ...) or name one"));
    const QFileInfo info(archive);
    if (!info.isFile() || !info.isReadable())
        return ZNFCommandOutput::fail(QStringLiteral("cannot read the archive %1").arg(archive));

    QEventLoop loop;
    auto outcome = std::make_shared<Outcome>();
    outcome->loop = &loop;

    auto controller = std::make_shared<ZNFMultipeerController>(QStringLiteral("sfn"), std::nullopt);
    ZNFLog(QStringLiteral("Attempting wireless connection..."));
    std::weak_ptr<ZNFMultipeerController> weak = controller;
    const QString host = ZNFPeerID::localHostName();
    auto advertiser = controller->startAdvertisingWithInfo(
        ZNFDiscoveryInfo{{QLatin1String(ZNFMultipeerControllerDiscoveryKey_host), host}},
        [weak, archive, outcome](const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID& inviter,
                                 const QByteArray&, const ZNFPeerInvitationHandler& reply) {
            auto controller = weak.lock();
            if (!controller)
                return;
            ZNFCommandOutput::progress(QStringLiteral("Invited by %1").arg(inviter.displayName()));
            controller->registerHandler(
                [weak, archive, inviter, outcome](const std::shared_ptr<ZNFPeerSession>& session,
                                                  const ZNFPeerID& peer, qint64 state) {
                    ZNFLogf(QStringLiteral("%@ state changed: %@"), peer.description(),
                            QString::number(state));
                    if (state != ZNFPeerSession::Connected)
                        return;
                    const QUrl url = QUrl::fromLocalFile(archive);
                    ZNFLogf(QStringLiteral("Sending resource: %@"), url.toString());
                    ZNFCommandOutput::progress(
                        QStringLiteral("Sending %1 to %2").arg(url.fileName(), peer.displayName()));
                    auto progress = session->sendResourceAtURL(
                        url, url.fileName(), peer, [archive, peer, outcome](const ZNFPeerError& error) {
                            ZNFLogf(QStringLiteral("Sent resource! %@"), error.description());
                            if (!error.isNull()) {
                                outcome->finish(1, QStringLiteral("sending to %1 failed: %2")
                                                       .arg(peer.displayName(), error.message()));
                                return;
                            }
                            const QJsonObject result{{QStringLiteral("sent"), archive},
                                                     {QStringLiteral("bytes"), QFileInfo(archive).size()},
                                                     {QStringLiteral("peer"), peer.displayName()}};
                            outcome->finish(
                                0, QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
                        });
                    progress->setChangeHandler(percentPrinter(QStringLiteral("Sent")));
                },
                inviter, controller->session());
            // Every invitation is accepted, as the phone expects.
            reply(true, controller->session());
        });
    const ZNFPeerError error = advertiser->startError();
    if (!error.isNull()) {
        controller->disconnect();
        return ZNFCommandOutput::fail(error.message());
    }
    ZNFCommandOutput::progress(
        QStringLiteral("Waiting for the phone: advertising \"sfn\" as %1 (Ctrl-C to stop)")
            .arg(controller->peerId().displayName()));

    loop.exec();
    controller->disconnect();
    QMutexLocker lock(&outcome->mutex);
    if (outcome->status != 0)
        return ZNFCommandOutput::fail(outcome->text);
    std::printf("%s\n", outcome->text.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}
