// notecrate receive DIR: the phone's side of a wireless send. Browses "sfn", invites a
// computer it found (again, after a short wait, when one refused or dropped it) and stores the
// resource it sends into DIR under the resource's name, never over an existing file.
#include "tools/ZNFCommandLine.h"
#include "tools/ZNFCommandOutcome_p.h"

#include "multipeer/ZNFMultipeerController.h"
#include "multipeer/ZNFTransferEstimate.h"
#include "multipeer/ZNFWirelessSender.h"
#include "platform/ZNFFileWrite.h"
#include "platform/ZNFMainQueue.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerLog.h"
#include "platform/peer/ZNFResourceName.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSet>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QTimer>
#include <QWaitCondition>
#include <atomic>
#include <cstdio>
#include <sys/stat.h>

namespace {

constexpr double kInvitationTimeoutSeconds = 30;
// After storing, how long to wait for the sender to hang up once it has our confirmation.
constexpr int kGoodbyeMs = 5000;
// A computer that refused or dropped us is asked again after this, doubling up to the most.
constexpr int kRetryFirstMs = 500;
constexpr int kRetryMostMs = 8000;
// After this long seeing nothing but our own announcement, receive says why nothing happens.
constexpr int kOwnAnnouncementNoticeMs = 3000;
// How far " (1)", " (2)"... go before a name counts as taken.
constexpr int kMaxNumberedCopies = 9999;

struct Outcome : ZNFCommandOutcome {
    std::atomic<bool> stored{false};

    // Whether the person trusts each peer (by key), decided on the main thread; storing waits
    // for it on the layer's thread, so nothing from a peer nobody confirmed is kept.
    QWaitCondition decided;
    QHash<QString, bool> trusted; // under `mutex`
    QSet<QString> toPin;
    // The progress of each resource under way, by peer and name: a resource that is not kept
    // has its progress cancelled, which tells the sender.
    QHash<QString, std::shared_ptr<ZNFProgress>> progresses; // under `mutex`
    QString configFolder = ZNFPeerIdentity::configFolder();  // as it was when the run began

    void decide(const QString& fingerprint, bool trust, bool pin) {
        QMutexLocker lock(&mutex);
        trusted.insert(fingerprint, trust);
        if (pin)
            toPin.insert(fingerprint);
        decided.wakeAll();
    }
    bool waitForTrust(const QString& fingerprint) {
        QMutexLocker lock(&mutex);
        while (!trusted.contains(fingerprint) && !done)
            decided.wait(&mutex, 200);
        return trusted.value(fingerprint, false);
    }
};

QString refusal(const QString& name, const ZNFPeerID& peer, const QString& reason) {
    return QStringLiteral("refusing the resource name \"%1\" from %2: %3")
        .arg(ZNFResourceName::printable(name), peer.displayName(), reason);
}

bool sameDevice(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

// "name.ext", then "name (1).ext", "name (2).ext"...
QString numbered(const QString& name, int number) {
    if (number == 0)
        return name;
    const QFileInfo info(name);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? name : info.completeBaseName();
    // Concatenated, not formatted: the name may hold "%1" itself.
    return base + QStringLiteral(" (") + QString::number(number) + QLatin1Char(')') +
           (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
}

// Moves the layer's temporary file into `directory` as `name`, or as the first numbered
// name that is free: never over an existing file. Returns the error, or "" with `stored`
// set to where it went.
QString storeInto(const QString& temporary, const QString& directory, const QString& name, QString* stored) {
    QString source = temporary;
    QTemporaryFile copy(QDir(directory).filePath(QStringLiteral(".notecrate-receive-XXXXXX")));
    if (!sameDevice(temporary, directory)) {
        // Another file system: copied next to the target first, so that the rename below is
        // one step that cannot replace anything.
        QFile from(temporary);
        if (!copy.open() || !from.open(QIODevice::ReadOnly))
            return copy.errorString();
        while (!from.atEnd()) {
            const QByteArray block = from.read(1 << 20);
            if (block.isEmpty() || copy.write(block) != block.size())
                return copy.errorString();
        }
        if (!copy.flush() || copy.size() != from.size())
            return QStringLiteral("the copy is incomplete");
        copy.close();
        source = copy.fileName();
    }
    // What was received is the person's notes: readable by them alone, before it has a name.
    if (!QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return QStringLiteral("cannot make it private");
    for (int number = 0; number <= kMaxNumberedCopies; ++number) {
        const QString target = QDir(directory).filePath(numbered(name, number));
        if (ZNFFileWrite::moveIntoPlace(source, target, ZNFFileWrite::Existing::Keep)) {
            *stored = target;
            return {};
        }
        const QFileInfo taken(target);
        if (!taken.exists() && !taken.isSymLink())
            return QStringLiteral("cannot move it into place");
    }
    return QStringLiteral("every numbered name is taken");
}

// The phone's side of one run. Lives on the main thread; the peer layer's callbacks post
// what they learn here.
class Receiver : public std::enable_shared_from_this<Receiver> {
public:
    Receiver(const QString& directory, std::shared_ptr<Outcome> outcome, const ZNFPeerCommandOptions& options)
        : m_directory(directory), m_outcome(std::move(outcome)), m_options(options) {
        m_retry.setSingleShot(true);
        QObject::connect(&m_retry, &QTimer::timeout, [this] { tryNext(); });
    }

    ZNFPeerError start() {
        QString identityError;
        if (m_options.encryption != ZNFPeerSession::EncryptionNone &&
            !ZNFPeerIdentity::device(&identityError))
            return ZNFPeerError(ZNFPeerError::IdentityDamaged, identityError);
        m_controller = std::make_shared<ZNFMultipeerController>(ZNFWirelessSender_serviceType, std::nullopt);
        m_controller->setEncryptionPreference(m_options.encryption);
        registerResourceHandlers();
        std::weak_ptr<Receiver> weak = weak_from_this();
        auto browser =
            m_controller->startBrowsing([weak](const std::shared_ptr<ZNFPeerBrowser>& browser,
                                               const ZNFPeerID& peer, const ZNFDiscoveryInfo& info) {
                const QString host = info.value(ZNFMultipeerControllerDiscoveryKey_host);
                ZNFPostToMainQueue([weak, browser, peer, host] {
                    if (auto self = weak.lock())
                        self->found(browser, peer, host);
                });
            });
        m_browser = browser;
        QTimer::singleShot(kOwnAnnouncementNoticeMs, [weak] {
            auto self = weak.lock();
            auto found = self ? self->m_browser.lock() : nullptr;
            if (found && found->hasFoundOnlyItself() && self->m_candidates.empty())
                ZNFCommandOutput::progress(QStringLiteral(
                    "only this computer's own announcement was found: the sender uses the same identity as "
                    "this receiver (a copied config folder?)"));
        });
        return browser->startError();
    }

    std::shared_ptr<ZNFMultipeerController> controller() const { return m_controller; }

private:
    struct Candidate {
        ZNFPeerID peer;
        QString host;
        QDeadlineTimer nextTry{0};
        int backoffMs = 0;
        bool tried = false;
    };

    void registerResourceHandlers() {
        const QString directory = m_directory;
        const std::shared_ptr<Outcome> outcome = m_outcome;
        m_controller->registerResourceHandlerForSession(
            m_controller->session(),
            [directory, outcome](const std::shared_ptr<ZNFPeerSession>&, const QString& name,
                                 const ZNFPeerID& peer, const std::shared_ptr<ZNFProgress>& progress) {
                const QStorageInfo disk(directory);
                const qint64 room = disk.bytesAvailable() - ZNFPeerLimits::current().freeSpaceMarginBytes;
                if (disk.isValid() && progress->totalUnitCount() > room) {
                    progress->cancel();
                    outcome->finish(1, QStringLiteral("refusing %1 from %2: %3 bytes do not fit into %4")
                                           .arg(ZNFResourceName::printable(name), peer.displayName())
                                           .arg(progress->totalUnitCount())
                                           .arg(directory));
                    return;
                }
                {
                    QMutexLocker lock(&outcome->mutex);
                    outcome->progresses.insert(peer.uniqueID() + u'/' + name, progress);
                }
                ZNFCommandOutput::progress(
                    QStringLiteral("Receiving %1 from %2").arg(name, peer.displayName()));
                // Called on the one layer thread that moves this resource's bytes.
                auto estimate = std::make_shared<ZNFTransferEstimate>();
                progress->setChangeHandler([estimate](qint64 done, qint64 total) {
                    ZNFCommandOutput::transferProgress(QStringLiteral("Receiving"), done, total, *estimate);
                });
            },
            // On the layer's thread, while its temporary file still exists.
            [directory, outcome](const std::shared_ptr<ZNFPeerSession>&, const QString& name,
                                 const ZNFPeerID& peer, const QUrl& url, const ZNFPeerError& error) {
                std::shared_ptr<ZNFProgress> progress;
                {
                    QMutexLocker lock(&outcome->mutex);
                    progress = outcome->progresses.take(peer.uniqueID() + u'/' + name);
                }
                // Whatever is not stored below is refused, so that the sender never reports it sent.
                bool kept = false;
                const auto notKept = qScopeGuard([&] {
                    if (progress && !kept)
                        progress->cancel();
                });
                if (error.code() == ZNFPeerError::InvalidName) {
                    outcome->finish(1, refusal(name, peer, ZNFResourceName::problem(name)));
                    return;
                }
                if (error.code() == ZNFPeerError::ConnectionLost || error.code() == ZNFPeerError::TimedOut)
                    return; // the link went: the computer is asked again
                if (!error.isNull()) {
                    outcome->finish(1, QStringLiteral("receiving from %1 failed: %2")
                                           .arg(peer.displayName(), error.message()));
                    return;
                }
                if (!outcome->waitForTrust(peer.uniqueID()))
                    return;
                // The layer refused anything else already; checked again where it is stored.
                if (const QString problem = ZNFResourceName::problem(name); !problem.isEmpty()) {
                    outcome->finish(1, refusal(name, peer, problem));
                    return;
                }
                QString target;
                if (const QString failure = storeInto(url.toLocalFile(), directory, name, &target);
                    !failure.isEmpty()) {
                    outcome->finish(1, QStringLiteral("cannot store %1 in %2: %3")
                                           .arg(ZNFResourceName::printable(name), directory, failure));
                    return;
                }
                outcome->stored = true;
                kept = true;
                bool pin;
                {
                    QMutexLocker lock(&outcome->mutex);
                    pin = outcome->toPin.contains(peer.uniqueID());
                }
                if (pin)
                    ZNFPinnedPeers(outcome->configFolder, ZNFDeviceRole::Receiver)
                        .pin(peer.displayName(), peer.uniqueID());
                const QJsonObject result{{QStringLiteral("path"), target},
                                         {QStringLiteral("bytes"), QFileInfo(target).size()},
                                         {QStringLiteral("peer"), peer.displayName()}};
                outcome->finish(0, QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)));
            });
    }

    void found(const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerID& peer, const QString& host) {
        m_browser = browser;
        auto it = std::find_if(m_candidates.begin(), m_candidates.end(),
                               [&](const Candidate& c) { return c.peer == peer; });
        if (it == m_candidates.end())
            m_candidates.push_back(Candidate{peer, host});
        else
            it->host = host;
        tryNext();
    }

    // Invites the computer whose turn it is, unless one is being talked to already.
    void tryNext() {
        auto browser = m_browser.lock();
        if (m_outcome->done || !m_current.isNull() || !browser)
            return;
        Candidate* next = nullptr;
        for (Candidate& c : m_candidates)
            if (!next || c.nextTry.deadline() < next->nextTry.deadline())
                next = &c;
        if (!next)
            return;
        if (!next->nextTry.hasExpired()) {
            m_retry.start(int(qMax<qint64>(1, next->nextTry.remainingTime())));
            return;
        }
        m_current = next->peer;
        m_connected = false;
        ZNFCommandOutput::progress(QStringLiteral("%1 %2%3").arg(
            next->tried ? QStringLiteral("Asking again:") : QStringLiteral("Found"), next->peer.displayName(),
            next->host.isEmpty() ? QString() : " (" + next->host + ")"));
        next->tried = true;
        std::weak_ptr<Receiver> weak = weak_from_this();
        auto changed = [weak](const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID& peer,
                              ZNFPeerSession::State state) {
            qCInfo(lcPeer()).noquote() << QStringLiteral("%1 state changed: %2")
                                              .arg(peer.description(), QString::number(qint64(state)));
            ZNFPostToMainQueue([weak, peer, state] {
                if (auto self = weak.lock())
                    self->stateChanged(peer, state);
            });
        };
        m_controller->invitePeer(next->peer, browser, QByteArray(), kInvitationTimeoutSeconds, changed);
    }

    void stateChanged(const ZNFPeerID& peer, ZNFPeerSession::State state) {
        if (peer != m_current || m_outcome->done)
            return;
        auto it = std::find_if(m_candidates.begin(), m_candidates.end(),
                               [&](const Candidate& c) { return c.peer == peer; });
        if (state == ZNFPeerSession::State::Connected) {
            m_connected = true;
            if (it != m_candidates.end())
                it->backoffMs = 0;
            ZNFCommandOutput::progress(QStringLiteral("Connected to %1").arg(peer.displayName()));
            trust(peer);
            return;
        }
        if (state != ZNFPeerSession::State::NotConnected || m_outcome->stored)
            return;
        m_current = ZNFPeerID();
        if (it != m_candidates.end()) {
            it->backoffMs = it->backoffMs == 0 ? kRetryFirstMs : qMin(it->backoffMs * 2, kRetryMostMs);
            it->nextTry = QDeadlineTimer(it->backoffMs);
            ZNFCommandOutput::progress(
                QStringLiteral("%1 %2; asking again in %3 s")
                    .arg(peer.displayName(), m_connected ? QStringLiteral("dropped the connection")
                                                         : QStringLiteral("did not accept the invitation"))
                    .arg(it->backoffMs / 1000.0));
        }
        tryNext();
    }

    // Known peers pass; a known name with another key is refused; a new peer is asked about.
    void trust(const ZNFPeerID& peer) {
        if (peer.verificationCode().isEmpty()) { // a plain link, chosen through the environment
            m_outcome->decide(peer.uniqueID(), true, false);
            return;
        }
        const auto match = ZNFPinnedPeers(m_outcome->configFolder, ZNFDeviceRole::Receiver)
                               .match(peer.displayName(), peer.uniqueID());
        if (match == ZNFPinnedPeers::Known) {
            m_outcome->decide(peer.uniqueID(), true, false);
            return;
        }
        QString refusal;
        if (match == ZNFPinnedPeers::Changed)
            refusal = QStringLiteral("%1 was remembered with another key: this may be another computer using "
                                     "its name; nothing was stored (notecrate receive --forget NAME if it "
                                     "was reinstalled)")
                          .arg(peer.displayName());
        const bool yes =
            refusal.isEmpty() &&
            ZNFConfirmNewPeer(
                m_options,
                QStringLiteral("Receive from %1, code %2?").arg(peer.displayName(), peer.verificationCode()),
                &refusal);
        m_outcome->decide(peer.uniqueID(), yes, yes);
        if (!yes) {
            m_controller->session()->cancelConnectPeer(peer);
            m_outcome->finish(1, refusal);
        }
    }

    const QString m_directory;
    const std::shared_ptr<Outcome> m_outcome;
    const ZNFPeerCommandOptions m_options;
    std::shared_ptr<ZNFMultipeerController> m_controller;
    std::weak_ptr<ZNFPeerBrowser> m_browser;
    std::vector<Candidate> m_candidates;
    ZNFPeerID m_current; // the computer invited or connected, if any
    bool m_connected = false;
    QTimer m_retry;
};

} // namespace

int ZNFRunReceive(const QStringList& commandLine) {
    // Plays the phone: an identity of its own even beside `send` on the same computer.
    const ZNFDeviceRole role = ZNFPeerIdentity::deviceRole();
    ZNFPeerIdentity::setDeviceRole(ZNFDeviceRole::Receiver);
    const auto restoreRole = qScopeGuard([role] { ZNFPeerIdentity::setDeviceRole(role); });
    ZNFPeerCommandOptions options;
    if (const std::optional<int> ended = ZNFStartPeerCommand(commandLine, &options))
        return *ended;
    const QStringList& arguments = options.arguments;
    if (arguments.size() != 1)
        return ZNFCommandOutput::fail(QStringLiteral("usage: notecrate receive [--yes] DIR"));
    const QString directory = QFileInfo(arguments.first()).absoluteFilePath();
    if (!QDir().mkpath(directory) || !QFileInfo(directory).isDir())
        return ZNFCommandOutput::fail(
            QStringLiteral("cannot use %1 as the folder to receive into").arg(directory));

    QEventLoop loop;
    auto outcome = std::make_shared<Outcome>();
    outcome->loop = &loop;
    auto receiver = std::make_shared<Receiver>(directory, outcome, options);
    const ZNFPeerError error = receiver->start();
    if (!error.isNull()) {
        receiver->controller()->disconnect();
        return ZNFCommandOutput::fail(error.message());
    }
    ZNFCommandOutput::progress(QStringLiteral("Looking for a computer sending over \"%1\" (Ctrl-C to stop)")
                                   .arg(ZNFWirelessSender_serviceType));
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
        const auto session = receiver->controller()->session();
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
    receiver->controller()->disconnect();
    if (status != 0)
        return ZNFCommandOutput::fail(text);
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}
