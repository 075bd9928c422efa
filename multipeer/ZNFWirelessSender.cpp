#include "multipeer/ZNFWirelessSender.h"

#include "multipeer/ZNFMultipeerController.h"
#include "platform/ZNFMainQueue.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLog.h"

#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <atomic>

// Shared by the handlers, which run on the peer layer's threads and may outlive the sender;
// they hold it weakly, so releasing the sender releases the controller and its session.
struct ZNFWirelessSender::State {
    QPointer<ZNFWirelessSender> owner; // read on the main thread only
    std::shared_ptr<ZNFMultipeerController> controller;
    QString archive;
    QString name;
    QString configFolder; // where remembered phones are kept, as it was when the send began
    ZNFDeviceRole role = ZNFDeviceRole::Computer;

    QMutex mutex;
    ZNFPeerID phone;       // the first peer that reached connected
    QSet<QString> invited; // accepted, not yet connected or gone
    bool over = false;     // finished or cancelled: nothing more is reported
    // The new phone waiting for the person's confirmation, and how to answer it.
    ZNFPeerID candidate;
    ZNFPeerInvitationHandler candidateReply;
    bool pinAfterSend = false;
    std::atomic<int> percent{-1};

    // Runs `work` on the main thread if the send is still on and its sender still there.
    static void toMain(const std::weak_ptr<State>& weak,
                       std::function<void(ZNFWirelessSender&, State&)> work) {
        ZNFPostToMainQueue([weak, work = std::move(work)] {
            auto state = weak.lock();
            if (!state || !state->owner)
                return;
            {
                QMutexLocker lock(&state->mutex);
                if (state->over)
                    return;
            }
            work(*state->owner, *state);
        });
    }

    static void invitation(const std::weak_ptr<State>& weak, const ZNFPeerID& peer,
                           const ZNFPeerInvitationHandler& reply);
    static void accept(const std::shared_ptr<State>& state, const ZNFPeerID& peer,
                       const ZNFPeerInvitationHandler& reply);
    static void stateChanged(const std::weak_ptr<State>& weak, const ZNFPeerID& peer,
                             ZNFPeerSession::State state);
    void send(const std::weak_ptr<State>& weak, const ZNFPeerID& phone);
};

void ZNFWirelessSender::State::invitation(const std::weak_ptr<State>& weak, const ZNFPeerID& peer,
                                          const ZNFPeerInvitationHandler& reply) {
    auto state = weak.lock();
    QString refusal;
    if (!state) {
        refusal = QStringLiteral("the send has ended");
    } else {
        QMutexLocker lock(&state->mutex);
        if (state->over)
            refusal = QStringLiteral("the send has ended");
        else if (!state->phone.isNull())
            refusal = QStringLiteral("the archive goes to %1").arg(state->phone.description());
        else if (state->invited.contains(peer.uniqueID()))
            refusal = QStringLiteral("a peer of that id was accepted already");
    }
    if (!refusal.isEmpty()) {
        qCInfo(lcPeer()).noquote() << QStringLiteral("Declined %1: %2").arg(peer.description(), refusal);
        reply(false, nullptr);
        return;
    }
    // A plain link (chosen through the environment) has no code to compare.
    const ZNFPinnedPeers pins(state->configFolder, state->role);
    const auto match = peer.verificationCode().isEmpty() ? ZNFPinnedPeers::Known
                                                         : pins.match(peer.displayName(), peer.uniqueID());
    if (match == ZNFPinnedPeers::Changed) {
        reply(false, nullptr);
        const ZNFPeerError error(
            ZNFPeerError::PeerChanged,
            QStringLiteral("%1 was remembered with another key: this may be another device using its name. "
                           "Nothing was sent. If the phone was reset or replaced, forget it and try again.")
                .arg(peer.displayName()));
        qCWarning(lcPeer()).noquote()
            << QStringLiteral("Refused %1: %2").arg(peer.description(), error.message());
        toMain(weak, [peer, error](ZNFWirelessSender& sender, State& state) {
            {
                QMutexLocker lock(&state.mutex);
                state.over = true;
            }
            state.controller->disconnect();
            emit sender.finished(peer, error);
        });
        return;
    }
    if (match == ZNFPinnedPeers::Unknown) {
        ZNFPeerInvitationHandler previous;
        {
            QMutexLocker lock(&state->mutex);
            previous = std::exchange(state->candidateReply, reply);
            state->candidate = peer;
        }
        if (previous)
            previous(false, nullptr); // only the newest invitation is shown and can be confirmed
        toMain(weak, [peer](ZNFWirelessSender& sender, State&) { emit sender.confirmationNeeded(peer); });
        return;
    }
    accept(state, peer, reply);
}

void ZNFWirelessSender::State::accept(const std::shared_ptr<State>& state, const ZNFPeerID& peer,
                                      const ZNFPeerInvitationHandler& reply) {
    std::weak_ptr<State> weak = state;
    {
        QMutexLocker lock(&state->mutex);
        state->invited.insert(peer.uniqueID());
    }
    const auto& controller = state->controller;
    controller->registerHandler(
        [weak](const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID& changed,
               ZNFPeerSession::State newState) { stateChanged(weak, changed, newState); },
        peer, controller->session());
    toMain(weak, [peer](ZNFWirelessSender& sender, State&) { emit sender.invited(peer); });
    reply(true, controller->session());
}

void ZNFWirelessSender::State::stateChanged(const std::weak_ptr<State>& weak, const ZNFPeerID& peer,
                                            ZNFPeerSession::State newState) {
    qCInfo(lcPeer()).noquote()
        << QStringLiteral("%1 state changed: %2").arg(peer.description(), QString::number(qint64(newState)));
    auto state = weak.lock();
    if (!state)
        return;
    bool chosen = false;
    bool extra = false;
    {
        QMutexLocker lock(&state->mutex);
        if (state->over)
            return;
        if (newState == ZNFPeerSession::State::Connected) {
            if (state->phone.isNull()) {
                state->phone = peer;
                chosen = true;
            } else {
                extra = peer != state->phone;
            }
            state->invited.remove(peer.uniqueID());
        } else if (newState == ZNFPeerSession::State::NotConnected && peer != state->phone) {
            state->invited.remove(peer.uniqueID());
        }
    }
    // A peer accepted while the phone was connecting: it gets nothing and is let go.
    if (extra)
        state->controller->session()->cancelConnectPeer(peer);
    if (chosen)
        state->send(weak, peer);
}

void ZNFWirelessSender::State::send(const std::weak_ptr<State>& weak, const ZNFPeerID& phone) {
    // Nobody else is let in from now on.
    controller->removeAllAdvertisers();
    const QUrl url = QUrl::fromLocalFile(archive);
    qCInfo(lcPeer()).noquote() << QStringLiteral("Sending resource: %1").arg(url.toString());
    toMain(weak, [phone](ZNFWirelessSender& sender, State&) { emit sender.sending(phone); });
    auto progress =
        controller->session()->sendResourceAtURL(url, name, phone, [weak, phone](const ZNFPeerError& error) {
            qCInfo(lcPeer()).noquote() << QStringLiteral("Sent resource! %1").arg(error.description());
            toMain(weak, [phone, error](ZNFWirelessSender& sender, State& state) {
                bool pin;
                {
                    QMutexLocker lock(&state.mutex);
                    state.over = true;
                    pin = state.pinAfterSend && error.isNull();
                }
                if (pin)
                    ZNFPinnedPeers(state.configFolder, state.role).pin(phone.displayName(), phone.uniqueID());
                state.controller->disconnect();
                emit sender.finished(phone, error);
            });
        });
    progress->setChangeHandler([weak](qint64 done, qint64 total) {
        auto state = weak.lock();
        if (!state)
            return;
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        if (state->percent.exchange(percent) != percent)
            toMain(weak,
                   [done, total](ZNFWirelessSender& sender, State&) { emit sender.progressed(done, total); });
    });
}

ZNFWirelessSender::ZNFWirelessSender(QObject* parent) : QObject(parent) {}

ZNFWirelessSender::~ZNFWirelessSender() {
    cancel();
}

void ZNFWirelessSender::confirm() {
    if (!m_state)
        return;
    ZNFPeerID peer;
    ZNFPeerInvitationHandler reply;
    {
        QMutexLocker lock(&m_state->mutex);
        if (m_state->over || !m_state->candidateReply)
            return;
        peer = m_state->candidate;
        reply = std::exchange(m_state->candidateReply, {});
        m_state->pinAfterSend = true;
    }
    State::accept(m_state, peer, reply);
}

bool ZNFWirelessSender::start(const QString& archivePath, const QString& resourceName) {
    cancel();
    m_startError = ZNFPeerError();
    QString identityError;
    if (m_encryptionPreference != ZNFPeerSession::EncryptionNone &&
        !ZNFPeerIdentity::device(&identityError)) {
        m_startError = ZNFPeerError(ZNFPeerError::IdentityDamaged, identityError);
        return false;
    }
    auto state = std::make_shared<State>();
    state->owner = this;
    state->archive = archivePath;
    state->configFolder = ZNFPeerIdentity::configFolder();
    state->role = ZNFPeerIdentity::deviceRole();
    state->name = resourceName.isEmpty() ? QFileInfo(archivePath).fileName() : resourceName;
    state->controller =
        std::make_shared<ZNFMultipeerController>(QString(ZNFWirelessSender_serviceType), std::nullopt);
    state->controller->setEncryptionPreference(m_encryptionPreference);
    m_state = state;
    qCInfo(lcPeer()).noquote() << QStringLiteral("Attempting wireless connection...");
    std::weak_ptr<State> weak = state;
    auto advertiser = state->controller->startAdvertisingWithInfo(
        ZNFDiscoveryInfo{{ZNFMultipeerControllerDiscoveryKey_host, ZNFPeerID::localHostName()}},
        [weak](const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID& peer, const QByteArray&,
               const ZNFPeerInvitationHandler& reply) { State::invitation(weak, peer, reply); });
    if (!advertiser->startError().isNull()) {
        m_startError = advertiser->startError();
        qCWarning(lcPeer()).noquote()
            << QStringLiteral("Could not advertise: %1").arg(m_startError.description());
        cancel();
        return false;
    }
    return true;
}

void ZNFWirelessSender::cancel() {
    if (!m_state)
        return;
    ZNFPeerInvitationHandler waiting;
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->over = true;
        waiting = std::exchange(m_state->candidateReply, {});
    }
    if (waiting)
        waiting(false, nullptr);
    m_state->controller->disconnect();
    m_state.reset();
}

bool ZNFWirelessSender::isRunning() const {
    if (!m_state)
        return false;
    QMutexLocker lock(&m_state->mutex);
    return !m_state->over;
}

std::shared_ptr<ZNFMultipeerController> ZNFWirelessSender::controller() const {
    return m_state ? m_state->controller : nullptr;
}
