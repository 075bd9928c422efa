// notecrate receive DIR: the phone's side of a wireless send. Browses "sfn", invites the
// first computer found, and stores the resource it sends into DIR under the resource's name,
// after checking that the name is a plain file name.
#include "tools/ZNFCommandLine.h"
#include "tools/ZNFCommandOutcome_p.h"

#include "multipeer/ZNFMultipeerController.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFMainQueue.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QTemporaryFile>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr double kInvitationTimeoutSeconds = 30;
// After storing, how long to wait for the sender to hang up once it has our confirmation.
constexpr int kGoodbyeMs = 5000;

struct Outcome : ZNFCommandOutcome {
    std::atomic<bool> stored{false};
};

// Why a resource name cannot become a file name in DIR, or "" when it can. The name comes
// from the network: anything that could leave DIR or name something odd is refused.
QString unsafeNameReason(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("it is empty");
    if (name.toUtf8().size() > 255)
        return QStringLiteral("it is longer than 255 bytes");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("it contains a path separator");
    if (name.contains(QChar(0)))
        return QStringLiteral("it contains a NUL character");
    if (name.contains(QLatin1String("..")))
        return QStringLiteral("it contains \"..\"");
    if (name == QLatin1String("."))
        return QStringLiteral("it names the folder itself");
    return {};
}

QString refusal(const QString& name, const ZNFPeerID& peer, const QString& reason) {
    QString shown = name.left(80);
    shown.replace(QChar(0), QStringLiteral("\\0"));
    return QStringLiteral("refusing the resource name \"%1\" from %2: %3")
        .arg(shown, peer.displayName(), reason);
}

// Moves the layer's temporary file to `target`, replacing an older file of that name only
// once the new one is complete.
QString storeInto(const QString& temporary, const QString& target) {
    if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) == 0)
        return {};
    if (errno != EXDEV)
        return QString::fromLocal8Bit(strerror(errno));
    // Another file system: copy next to the target first, then rename into place.
    QTemporaryFile copy(QFileInfo(target).dir().filePath(QStringLiteral(".notecrate-receive-XXXXXX")));
    QFile source(temporary);
    if (!copy.open() || !source.open(QIODevice::ReadOnly))
        return copy.errorString();
    while (!source.atEnd()) {
        const QByteArray block = source.read(1 << 20);
        if (block.isEmpty() || copy.write(block) != block.size())
            return copy.errorString();
    }
    if (!copy.flush() || copy.size() != source.size())
        return QStringLiteral("the copy is incomplete");
    if (::rename(QFile::encodeName(copy.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return QString::fromLocal8Bit(strerror(errno));
    copy.setAutoRemove(false);
    return {};
}

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

} // namespace

int ZNFRunReceive(const QStringList& arguments) {
    if (arguments.size() != 1)
        return ZNFCommandOutput::fail(QStringLiteral("usage: notecrate receive DIR"));
    const QString directory = QFileInfo(arguments.first()).absoluteFilePath();
    if (!QDir().mkpath(directory) || !QFileInfo(directory).isDir())
        return ZNFCommandOutput::fail(
            QStringLiteral("cannot use %1 as the folder to receive into").arg(directory));

    QEventLoop loop;
    auto outcome = std::make_shared<Outcome>();
    outcome->loop = &loop;

    auto controller = std::make_shared<ZNFMultipeerController>(QStringLiteral("sfn"), std::nullopt);
    std::weak_ptr<ZNFMultipeerController> weak = controller;
    auto session = controller->session();

    controller->registerResourceHandlerForSession(
        session,
        [outcome](const std::shared_ptr<ZNFPeerSession>&, const QString& name, const ZNFPeerID& peer,
                  const std::shared_ptr<ZNFProgress>& progress) {
            const QString reason = unsafeNameReason(name);
            if (!reason.isEmpty()) {
                // Refused before any byte is kept; the sender learns that it was not delivered.
                progress->cancel();
                outcome->finish(1, refusal(name, peer, reason));
                return;
            }
            ZNFCommandOutput::progress(QStringLiteral("Receiving %1 from %2").arg(name, peer.displayName()));
            progress->setChangeHandler(percentPrinter(QStringLiteral("Received")));
        },
        [directory, outcome](const std::shared_ptr<ZNFPeerSession>&, const QString& name,
                             const ZNFPeerID& peer, const QUrl& url, const ZNFPeerError& error) {
            if (!error.isNull()) {
                outcome->finish(
                    1,
                    QStringLiteral("receiving from %1 failed: %2").arg(peer.displayName(), error.message()));
                return;
            }
            const QString reason = unsafeNameReason(name);
            if (!reason.isEmpty()) {
                outcome->finish(1, refusal(name, peer, reason));
                return;
            }
            const QString target = QDir(directory).filePath(name);
            const QString failure = storeInto(url.toLocalFile(), target);
            if (!failure.isEmpty()) {
                outcome->finish(1, QStringLiteral("cannot store %1: %2").arg(target, failure));
                return;
            }
            // The layer's temporary file is private to us; the archive is an ordinary file.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::chmod(QFile::encodeName(target).constData(), 0666 & ~mask);
            outcome->stored = true;
            const QJsonObject result{{QStringLiteral("path"), target},
                                     {QStringLiteral("bytes"), QFileInfo(target).size()},
                                     {QStringLiteral("peer"), peer.displayName()}};
            outcome->finish(0, QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
        });

    // Computers found so far. The first one is invited; when an invitation fails before it
    // connects (a stale announcement of a sender that has gone, say) the next one is tried.
    struct Candidates {
        QMutex mutex;
        QList<std::pair<ZNFPeerID, QString>> found; // peer, host
        QSet<QString> tried;
        bool inviting = false;
        std::weak_ptr<ZNFPeerBrowser> browser;
    };
    auto candidates = std::make_shared<Candidates>();
    auto inviteNext = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weakInviteNext = inviteNext;
    *inviteNext = [weak, outcome, candidates, weakInviteNext] {
        auto controller = weak.lock();
        if (!controller || outcome->done)
            return;
        ZNFPeerID peer;
        QString host;
        std::shared_ptr<ZNFPeerBrowser> browser;
        {
            QMutexLocker lock(&candidates->mutex);
            if (candidates->inviting)
                return;
            for (const auto& [candidate, candidateHost] : std::as_const(candidates->found)) {
                if (!candidates->tried.contains(candidate.uniqueID())) {
                    peer = candidate;
                    host = candidateHost;
                    break;
                }
            }
            browser = candidates->browser.lock();
            if (peer.isNull() || !browser)
                return;
            candidates->tried.insert(peer.uniqueID());
            candidates->inviting = true;
        }
        ZNFCommandOutput::progress(
            QStringLiteral("Found %1%2, inviting")
                .arg(peer.displayName(), host.isEmpty() ? QString() : " (" + host + ")"));
        auto connected = std::make_shared<std::atomic<bool>>(false);
        controller->invitePeer(
            peer, browser, QByteArray(), kInvitationTimeoutSeconds,
            [outcome, connected, candidates, weakInviteNext](const std::shared_ptr<ZNFPeerSession>&,
                                                             const ZNFPeerID& peer, qint64 state) {
                ZNFLogf(QStringLiteral("%@ state changed: %@"), peer.description(), QString::number(state));
                if (state == ZNFPeerSession::Connected) {
                    connected->store(true);
                    ZNFCommandOutput::progress(QStringLiteral("Connected to %1").arg(peer.displayName()));
                    return;
                }
                if (state != ZNFPeerSession::NotConnected || outcome->stored)
                    return;
                if (connected->load()) {
                    outcome->finish(
                        1,
                        QStringLiteral("%1 disconnected before sending an archive").arg(peer.displayName()));
                    return;
                }
                ZNFCommandOutput::progress(
                    QStringLiteral("%1 did not accept the invitation").arg(peer.displayName()));
                {
                    QMutexLocker lock(&candidates->mutex);
                    candidates->inviting = false;
                }
                if (auto next = weakInviteNext.lock())
                    (*next)();
            });
    };
    auto browser = controller->startBrowsing(
        [candidates, inviteNext](const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerID& peer,
                                 const ZNFDiscoveryInfo& info) {
            {
                QMutexLocker lock(&candidates->mutex);
                candidates->browser = browser;
                candidates->found.append(
                    {peer, info.value(QLatin1String(ZNFMultipeerControllerDiscoveryKey_host))});
            }
            (*inviteNext)();
        });
    // Browsing failures the controller does not report: read them off the browser.
    if (browser && !browser->startError().isNull()) {
        controller->disconnect();
        return ZNFCommandOutput::fail(browser->startError().message());
    }
    ZNFCommandOutput::progress(
        QStringLiteral("Looking for a computer sending over \"sfn\" (Ctrl-C to stop)"));
    loop.exec();

    int status;
    QString text;
    {
        QMutexLocker lock(&outcome->mutex);
        status = outcome->status;
        text = outcome->text;
    }
    {
        // Our answer (a confirmation or a refusal) is on its way; the sender hangs up once it
        // has it.
        QEventLoop goodbye;
        QTimer::singleShot(kGoodbyeMs, &goodbye, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &goodbye, [&] {
            if (session->connectedPeers().isEmpty())
                goodbye.quit();
        });
        poll.start(20);
        goodbye.exec();
    }
    controller->disconnect();
    if (status != 0)
        return ZNFCommandOutput::fail(text);
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}
