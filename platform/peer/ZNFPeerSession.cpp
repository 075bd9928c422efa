#include "platform/peer/ZNFPeerSession_p.h"

#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerErrors_p.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerLog.h"

#include <QFileInfo>
#include <QPointer>
#include <algorithm>

using namespace ZNFPeerErrors;

namespace {
constexpr int kDefaultInvitationSeconds = 30;
} // namespace

ZNFPeerSession::Core::~Core() {
    // No delegate is told anything now: its session is gone. Senders waiting on a completion
    // still hear that their transfer ended, and no partial file is left behind.
    ZNFPendingCalls calls;
    for (auto& link : m_links) {
        link->receiver.discard();
        link->sender.release(lost(QStringLiteral("the session was released")), calls);
    }
    m_links.clear();
    run(calls);
}

void ZNFPeerSession::Core::notifyState(const ZNFPeerID& peer, State state) {
    notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
        d.session(s, peer, state);
    });
}

void ZNFPeerSession::Core::resourceBegan(const QString& name, const ZNFPeerID& peer,
                                         const std::shared_ptr<ZNFProgress>& progress) {
    notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
        d.session(s, name, peer, progress);
    });
}

void ZNFPeerSession::Core::resourceFinished(const QString& name, const ZNFPeerID& peer, const QUrl& localURL,
                                            const ZNFPeerError& error) {
    notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
        d.session(s, name, peer, localURL, error);
    });
}

qint64 ZNFPeerSession::Core::reservedBytes() const {
    qint64 total = 0;
    for (const auto& link : m_links)
        total += link->receiver.reservedBytes();
    return total;
}

void ZNFPeerSession::Core::storageProgressed(quint64 key) {
    if (ZNFPeerLink* link = linkForKey(key))
        link->receiver.storageProgressed();
}

void ZNFPeerSession::Core::postStorageProgressed(quint64 key) {
    ZNFPeerLayer::post(this, [this, key] { storageProgressed(key); });
}

ZNFPeerLink* ZNFPeerSession::Core::newLink(ZNFPeerConnection* connection, const ZNFPeerID& peer) {
    const quint64 key = m_nextLinkKey++;
    auto wakeSender = [this, key] {
        ZNFPeerLayer::post(this, [this, key] {
            if (ZNFPeerLink* link = linkForKey(key))
                link->sender.pump();
        });
    };
    auto link = std::make_unique<ZNFPeerLink>(key, connection, peer, *this, wakeSender);
    ZNFPeerLink* raw = link.get();
    m_links.push_back(std::move(link));
    connect(connection, &ZNFPeerConnection::frameReceived, this,
            [this, raw](quint8 type, const QByteArray& payload) { onFrame(raw, type, payload); });
    connect(connection, &ZNFPeerConnection::closed, this,
            [this, raw](const ZNFPeerError& error) { closeLink(raw, error, false); });
    connect(connection, &ZNFPeerConnection::drained, this, [raw] { raw->sender.pump(); });
    connect(connection, &ZNFPeerConnection::idle, this, [raw] {
        if (raw->hasTransfer())
            raw->connection->fail(ZNFPeerError(
                ZNFPeerError::TimedOut, QStringLiteral("no bytes moved for %1 seconds during a transfer")
                                            .arg(ZNFPeerLimits::current().idleTimeoutMs / 1000.0)));
    });
    return raw;
}

ZNFPeerLink* ZNFPeerSession::Core::linkForPeer(const ZNFPeerID& peer) const {
    for (const auto& link : m_links)
        if (link->state == State::Connected && link->peer == peer)
            return link.get();
    return nullptr;
}

ZNFPeerLink* ZNFPeerSession::Core::linkForKey(quint64 key) const {
    for (const auto& link : m_links)
        if (link->key == key)
            return link.get();
    return nullptr;
}

bool ZNFPeerSession::Core::hasLinkTo(const ZNFPeerID& peer, const ZNFPeerLink* except) const {
    for (const auto& link : m_links)
        if (link.get() != except && !link->peer.isNull() && link->peer == peer)
            return true;
    return false;
}

bool ZNFPeerSession::Core::atLinkLimit() const {
    return int(m_links.size()) >= ZNFPeerLimits::current().maxLinksPerSession;
}

void ZNFPeerSession::Core::becomeConnected(ZNFPeerLink* link) {
    link->state = State::Connected;
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    link->connection->setKeepalive(limits.keepaliveIntervalMs, limits.idleTimeoutMs);
    {
        QMutexLocker lock(&mutex);
        connected.append(link->peer);
    }
    notifyState(link->peer, State::Connected);
}

void ZNFPeerSession::Core::closeLink(ZNFPeerLink* link, const ZNFPeerError& error, bool graceful) {
    auto it = std::find_if(m_links.begin(), m_links.end(), [link](const auto& l) { return l.get() == link; });
    if (it == m_links.end())
        return;
    std::unique_ptr<ZNFPeerLink> owned = std::move(*it);
    m_links.erase(it);

    ZNFPendingCalls calls;
    link->sender.failAll(error, calls);
    link->receiver.failAll(error, calls);
    if (link->state == State::Connected) {
        QMutexLocker lock(&mutex);
        connected.removeOne(link->peer);
    }
    qCInfo(lcPeer()).noquote()
        << QStringLiteral("Peer %1 disconnected: %2").arg(link->peer.description(), error.description());
    ZNFPeerConnection* connection = link->connection;
    QObject::disconnect(connection, nullptr, this, nullptr);
    if (graceful)
        connection->closeGracefully();
    else
        connection->deleteLater();
    const ZNFPeerID peer = link->peer;
    run(calls);
    notifyState(peer, State::NotConnected);
}

void ZNFPeerSession::Core::onFrame(ZNFPeerLink* link, quint8 type, const QByteArray& payload) {
    if (link->state == State::Connecting) {
        onInvitationAnswer(link, type, payload);
        return;
    }
    switch (type) {
    case ZNFPeerFrame::Data: {
        ZNFFrameReader reader(payload);
        const QByteArray data = reader.rest();
        notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
            d.session(s, data, link->peer);
        });
        return;
    }
    case ZNFPeerFrame::ResourceBegin:
        link->receiver.onBegin(payload);
        return;
    case ZNFPeerFrame::ResourceChunk:
        link->receiver.onChunk(payload);
        return;
    case ZNFPeerFrame::ResourceEnd:
        link->receiver.onEnd(payload);
        return;
    case ZNFPeerFrame::ResourceResult:
        link->sender.onResult(payload);
        return;
    case ZNFPeerFrame::ResourceAbort:
        link->receiver.onAbort(payload);
        return;
    default:
        link->connection->fail(protocolError(QStringLiteral("unexpected frame type %1").arg(type)));
    }
}

void ZNFPeerSession::Core::sendData(const QByteArray& data, const QList<ZNFPeerID>& peers) {
    for (const ZNFPeerID& peer : peers)
        if (ZNFPeerLink* link = linkForPeer(peer))
            link->connection->send(ZNFPeerFrame::Data, data);
}

void ZNFPeerSession::Core::sendResource(const QString& path, const QString& name, const ZNFPeerID& peer,
                                        const std::shared_ptr<ZNFProgress>& progress,
                                        const Completion& completion) {
    ZNFPeerLink* link = linkForPeer(peer);
    if (!link) {
        if (completion)
            completion(ZNFPeerError(ZNFPeerError::NotConnected,
                                    QStringLiteral("%1 is not connected").arg(peer.displayName())));
        return;
    }
    link->sender.send(path, name, progress, completion);
}

void ZNFPeerSession::Core::disconnectAll() {
    std::vector<ZNFPeerLink*> links;
    for (auto& link : m_links)
        links.push_back(link.get());
    for (ZNFPeerLink* link : links)
        closeLink(link, lost(QStringLiteral("the session was disconnected")), true);
}

void ZNFPeerSession::Core::disconnectPeer(const ZNFPeerID& peer) {
    std::vector<ZNFPeerLink*> links;
    for (auto& link : m_links)
        if (link->peer == peer)
            links.push_back(link.get());
    for (ZNFPeerLink* link : links)
        closeLink(link, lost(QStringLiteral("the connection to the peer was cancelled")), true);
}

// --- the handle ---

ZNFPeerID ZNFPeerSession::linkPeer(const ZNFPeerID& me, const QVariantList& securityIdentity,
                                   qint64 encryptionPreference) {
    if (encryptionPreference == EncryptionNone)
        return ZNFPeerID(me.displayName(), me.uniqueID());
    if (!me.identity() && !securityIdentity.isEmpty())
        return ZNFPeerID(me.displayName(), std::make_shared<const ZNFPeerIdentity>(
                                               ZNFPeerIdentity::fromSecurityIdentity(securityIdentity)));
    return me;
}

ZNFPeerSession::ZNFPeerSession(const ZNFPeerID& myPeerID, const QVariantList& securityIdentity,
                               qint64 encryptionPreference)
    : m_myPeerID(myPeerID), m_securityIdentity(securityIdentity),
      m_encryptionPreference(encryptionPreference),
      m_core(new Core(linkPeer(myPeerID, securityIdentity, encryptionPreference))) {}

std::shared_ptr<ZNFPeerSession> ZNFPeerSession::create(const ZNFPeerID& myPeerID) {
    return create(myPeerID, {}, 0);
}

std::shared_ptr<ZNFPeerSession> ZNFPeerSession::create(const ZNFPeerID& myPeerID,
                                                       const QVariantList& securityIdentity,
                                                       qint64 encryptionPreference) {
    auto* session = new ZNFPeerSession(myPeerID, securityIdentity, encryptionPreference);
    return session->m_core->bind(session);
}

ZNFPeerSession::~ZNFPeerSession() {
    m_core->release();
}

void ZNFPeerSession::setDelegate(const std::weak_ptr<ZNFPeerSessionDelegate>& delegate) {
    m_core->setDelegate(delegate);
}

std::shared_ptr<ZNFPeerSessionDelegate> ZNFPeerSession::delegate() const {
    return m_core->delegate();
}

QList<ZNFPeerID> ZNFPeerSession::connectedPeers() const {
    QMutexLocker lock(&m_core->mutex);
    return m_core->connected;
}

bool ZNFPeerSession::sendData(const QByteArray& data, const QList<ZNFPeerID>& peers, ZNFPeerError* error) {
    auto refuse = [error](const ZNFPeerError& e) {
        if (error)
            *error = e;
        return false;
    };
    if (data.size() > ZNFPeerLimits::current().maxFramePayload)
        return refuse(
            ZNFPeerError(ZNFPeerError::TooLarge, QStringLiteral("the data is over the frame limit")));
    {
        QMutexLocker lock(&m_core->mutex);
        for (const ZNFPeerID& peer : peers)
            if (!m_core->connected.contains(peer))
                return refuse(ZNFPeerError(ZNFPeerError::NotConnected,
                                           QStringLiteral("%1 is not connected").arg(peer.displayName())));
    }
    Core* core = m_core;
    ZNFPeerLayer::post(core, [core, data, peers] { core->sendData(data, peers); });
    return true;
}

std::shared_ptr<ZNFProgress> ZNFPeerSession::sendResourceAtURL(const QUrl& url, const QString& name,
                                                               const ZNFPeerID& peer, Completion completion) {
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    auto progress = std::make_shared<ZNFProgress>(path.isEmpty() ? -1 : QFileInfo(path).size());
    Core* core = m_core;
    ZNFPeerLayer::post(core, [core, path, name, peer, progress, completion = std::move(completion)] {
        core->sendResource(path, name, peer, progress, completion);
    });
    return progress;
}

void ZNFPeerSession::disconnect() {
    Core* core = m_core;
    ZNFPeerLayer::post(core, [core] { core->disconnectAll(); });
}

void ZNFPeerSession::cancelConnectPeer(const ZNFPeerID& peer) {
    Core* core = m_core;
    ZNFPeerLayer::post(core, [core, peer] { core->disconnectPeer(peer); });
}

void ZNFPeerSession::connectToPeer(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                                   const QByteArray& context, double timeoutSeconds) {
    const double seconds = timeoutSeconds > 0 ? timeoutSeconds : kDefaultInvitationSeconds;
    const int timeoutMs = int(qMin(seconds * 1000.0, 24.0 * 3600 * 1000));
    Core* core = m_core;
    ZNFPeerLayer::post(core, [core, peer, address, port, context, timeoutMs] {
        core->connectTo(peer, address, port, context, timeoutMs);
    });
}

void ZNFPeerSession::adoptConnection(ZNFPeerConnection* connection, const ZNFPeerID& peer) {
    connection->setParent(nullptr);
    QObject::disconnect(connection, nullptr, nullptr, nullptr);
    connection->clearDeadline();
    connection->setPaused(true);
    QPointer<Core> core(m_core);
    connection->moveToThread(m_core->thread());
    ZNFPeerLayer::post(connection, [core, connection, peer] {
        if (core)
            core->adopt(connection, peer);
        else
            connection->deleteLater();
    });
}

void ZNFPeerSession::reportInvitationFailure(const ZNFPeerID& peer) {
    Core* core = m_core;
    ZNFPeerLayer::post(core, [core, peer] { core->invitationFailed(peer); });
}
