#include "platform/peer/ZNFPeerAdvertiser.h"

#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerHandle_p.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLayer_p.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerLog.h"
#include "platform/peer/ZNFPeerSession.h"
#include "platform/peer/ZNFSha256.h"

#include <QHash>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>

namespace {
// What an invitation's reply needs to find its way back, whichever thread calls it and
// whether or not the advertiser or the connection still exist by then.
struct ReplyState {
    QMutex mutex;
    ZNFPeerAdvertiser::Core* core = nullptr;
    bool answered = false;
};

// Hands out sockets that can be encrypted before their first frame.
class SecureServer : public QTcpServer {
protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        if (socket->setSocketDescriptor(descriptor))
            addPendingConnection(socket);
        else
            delete socket;
    }
};

// An invitation whose commitment waits for the inviter's reveal.
struct Commitment {
    QString id;
    QString name;
    QByteArray context;
    QByteArray hash;
    QByteArray nonce; // ours
};
} // namespace

class ZNFPeerAdvertiser::Core : public ZNFDiscoveryCore<ZNFPeerAdvertiser, ZNFPeerAdvertiserDelegate> {
public:
    explicit Core(const ZNFPeerID& me) : m_me(me) {}
    ~Core() override {
        for (const auto& state : std::as_const(m_pending)) {
            QMutexLocker lock(&state->mutex);
            state->core = nullptr;
        }
    }

    quint16 port = 0; // under the mutex

    void attach(QTcpServer* server, ZNFDiscoveryPublisher* publisher) {
        m_server = server;
        m_publisher = publisher;
        m_server->setParent(this);
        m_publisher->setParent(this);
        connect(m_server, &QTcpServer::newConnection, this, [this] { accept(); });
        connect(m_publisher, &ZNFDiscoveryPublisher::failed, this,
                [this](const ZNFPeerError& error) { reportStartError(error); });
        m_publisher->attach();
        accept(); // anything that arrived while moving over
    }

    void detach() {
        delete m_publisher;
        m_publisher = nullptr;
        delete m_server;
        m_server = nullptr;
        const auto pending = m_arrivals;
        for (ZNFPeerConnection* connection : pending) {
            forget(connection);
            connection->deleteLater();
        }
        m_invited.clear();
    }

    void reportStartError(const ZNFPeerError& error) override {
        qCWarning(lcPeer()).noquote()
            << QStringLiteral("Advertising did not start: %1").arg(error.description());
        notify([&](ZNFPeerAdvertiserDelegate& d, const std::shared_ptr<ZNFPeerAdvertiser>& a) {
            d.advertiser(a, error);
        });
    }

    void answer(ZNFPeerConnection* connection, const ZNFPeerID& peer, bool accept,
                const std::shared_ptr<ZNFPeerSession>& session) {
        if (!m_pending.contains(connection))
            return; // closed meanwhile, or the advertiser stopped
        forget(connection);
        m_invited.remove(connection);
        if (accept && session) {
            session->adoptConnection(connection, peer);
            return;
        }
        connection->send(ZNFPeerFrame::Decline);
        connection->closeGracefully();
    }

private:
    void forget(ZNFPeerConnection* connection) {
        m_arrivals.removeOne(connection);
        const std::shared_ptr<ReplyState> state = m_pending.take(connection);
        if (!state)
            return;
        QMutexLocker lock(&state->mutex);
        state->core = nullptr;
    }

    // Makes room for a newcomer from `address` by dropping the oldest pending connection
    // from there when that address is at its limit, else the oldest of all when the
    // advertiser is. Connections still silent go before ones that presented an invitation.
    void makeRoom(const QHostAddress& address) {
        const ZNFPeerLimits& limits = ZNFPeerLimits::current();
        auto oldest = [this](const std::function<bool(ZNFPeerConnection*)>& matches) {
            ZNFPeerConnection* found = nullptr;
            for (ZNFPeerConnection* c : std::as_const(m_arrivals)) {
                if (!matches(c))
                    continue;
                if (!m_invited.contains(c))
                    return c;
                if (!found)
                    found = c;
            }
            return found;
        };
        const auto fromAddress = [&](ZNFPeerConnection* c) { return c->peerAddress().isEqual(address); };
        ZNFPeerConnection* victim = nullptr;
        if (std::count_if(m_arrivals.cbegin(), m_arrivals.cend(), fromAddress) >= limits.maxPendingPerAddress)
            victim = oldest(fromAddress);
        else if (m_arrivals.size() >= limits.maxPendingConnections)
            victim = oldest([](ZNFPeerConnection*) { return true; });
        if (!victim)
            return;
        qCInfo(lcPeer()).noquote() << QStringLiteral(
                                          "Dropped the oldest waiting connection from %1 to make room")
                                          .arg(victim->peerAddress().toString());
        forget(victim);
        m_invited.remove(victim);
        victim->deleteLater();
    }

    void accept() {
        if (!m_server)
            return;
        const ZNFPeerLimits& limits = ZNFPeerLimits::current();
        while (m_server->hasPendingConnections()) {
            QTcpSocket* socket = m_server->nextPendingConnection();
            makeRoom(socket->peerAddress());
            auto* connection = new ZNFPeerConnection(socket, this);
            if (const auto identity = m_me.identity())
                connection->startTls(*identity, true);
            m_pending.insert(connection, std::make_shared<ReplyState>());
            m_arrivals.append(connection);
            // Counted from here, so it covers whatever the transport settles before frames.
            connection->setDeadline(
                limits.handshakeTimeoutMs,
                ZNFPeerError(ZNFPeerError::TimedOut, QStringLiteral("no invitation in time")));
            connect(connection, &ZNFPeerConnection::closed, this,
                    [this, connection](const ZNFPeerError& error) {
                        qCInfo(lcPeer()).noquote()
                            << QStringLiteral("Dropped an invitation connection: %1").arg(error.message());
                        forget(connection);
                        m_invited.remove(connection);
                        connection->deleteLater();
                    });
            connect(connection, &ZNFPeerConnection::frameReceived, this,
                    [this, connection](quint8 type, const QByteArray& payload) {
                        invitation(connection, type, payload);
                    });
        }
    }

    void invitation(ZNFPeerConnection* connection, quint8 type, const QByteArray& payload) {
        const ZNFPeerLimits& limits = ZNFPeerLimits::current();
        if (type != ZNFPeerFrame::Invite) {
            connection->fail(
                ZNFPeerError(ZNFPeerError::ProtocolError,
                             QStringLiteral("frame type %1 instead of an invitation").arg(type)));
            return;
        }
        ZNFFrameReader reader(payload);
        const quint8 version = reader.u8();
        const QString id = reader.string(limits.maxNameBytes);
        const QString name = reader.string(limits.maxNameBytes);
        const bool hasContext = reader.u8() != 0;
        QByteArray context = reader.bytes(limits.maxContextBytes);
        const QByteArray commitment = reader.bytes(ZNFPeerFrame::kDigestBytes);
        const bool encrypted = connection->isEncrypted();
        if (!reader.ok() || !reader.atEnd() || version != ZNFPeerFrame::kProtocolVersion || id.isEmpty() ||
            commitment.size() != (encrypted ? ZNFPeerFrame::kDigestBytes : 0)) {
            connection->fail(
                ZNFPeerError(ZNFPeerError::ProtocolError, QStringLiteral("malformed invitation")));
            return;
        }
        // On an encrypted link the id is the key the inviter proved it holds, not a claim.
        if (encrypted && id != connection->peerFingerprint()) {
            connection->fail(ZNFPeerError(ZNFPeerError::ProtocolError,
                                          QStringLiteral("the inviter claims an id that is not its key's")));
            return;
        }
        if (!hasContext)
            context = QByteArray();
        else if (context.isNull())
            context = QByteArray("");
        if (!encrypted) {
            present(connection, ZNFPeerID(name, id), context);
            return;
        }
        // Our nonce goes out only after the inviter committed to its own, and the inviter's
        // comes only after it has seen ours: neither side can steer the code.
        auto pending = std::make_shared<Commitment>(Commitment{id, name, context, commitment, {}});
        pending->nonce.resize(ZNFPeerCode::kNonceBytes);
        QRandomGenerator::system()->generate(pending->nonce.begin(), pending->nonce.end());
        QObject::disconnect(connection, &ZNFPeerConnection::frameReceived, this, nullptr);
        connect(connection, &ZNFPeerConnection::frameReceived, this,
                [this, connection, pending](quint8 type, const QByteArray& payload) {
                    ZNFFrameReader reveal(payload);
                    const QByteArray nonce = reveal.bytes(ZNFPeerCode::kNonceBytes);
                    if (type != ZNFPeerFrame::Reveal || !reveal.ok() || !reveal.atEnd() ||
                        nonce.size() != ZNFPeerCode::kNonceBytes || ZNFSha256::hash(nonce) != pending->hash) {
                        connection->fail(
                            ZNFPeerError(ZNFPeerError::ProtocolError,
                                         QStringLiteral("the inviter's nonce breaks its commitment")));
                        return;
                    }
                    ZNFPeerID peer(pending->name, pending->id);
                    peer.setVerificationCode(
                        ZNFPeerCode::derive(m_me.uniqueID(), pending->id, nonce, pending->nonce));
                    present(connection, peer, pending->context);
                });
        connection->send(ZNFPeerFrame::Nonce, ZNFFrameWriter().bytes(pending->nonce).payload());
    }

    void present(ZNFPeerConnection* connection, const ZNFPeerID& peer, const QByteArray& context) {
        const ZNFPeerLimits& limits = ZNFPeerLimits::current();

        // Nothing more is read until the invitation is answered.
        connection->setPaused(true);
        QObject::disconnect(connection, &ZNFPeerConnection::frameReceived, this, nullptr);
        m_invited.insert(connection);
        connection->setDeadline(
            limits.replyTimeoutMs,
            ZNFPeerError(ZNFPeerError::TimedOut, QStringLiteral("the invitation was not answered")));
        const std::shared_ptr<ReplyState> state = m_pending.value(connection);
        {
            QMutexLocker lock(&state->mutex);
            state->core = this;
        }
        ZNFPeerInvitationHandler reply = [state, connection,
                                          peer](bool accept, const std::shared_ptr<ZNFPeerSession>& session) {
            QMutexLocker lock(&state->mutex);
            if (state->answered || !state->core)
                return;
            state->answered = true;
            Core* core = state->core;
            // Holding the lock keeps the core alive while the answer is posted to its thread.
            ZNFPeerLayer::post(core, [core, connection, peer, accept, session] {
                core->answer(connection, peer, accept, session);
            });
        };
        notify([&](ZNFPeerAdvertiserDelegate& d, const std::shared_ptr<ZNFPeerAdvertiser>& a) {
            d.advertiser(a, peer, context, reply);
        });
    }

    const ZNFPeerID m_me;
    QTcpServer* m_server = nullptr;
    ZNFDiscoveryPublisher* m_publisher = nullptr;
    QHash<ZNFPeerConnection*, std::shared_ptr<ReplyState>> m_pending;
    QList<ZNFPeerConnection*> m_arrivals; // the pending ones, oldest first
    QSet<ZNFPeerConnection*> m_invited;   // of those, the ones waiting for an answer
};

ZNFPeerAdvertiser::ZNFPeerAdvertiser(const ZNFPeerID& myPeerID, const ZNFDiscoveryInfo& discoveryInfo,
                                     const QString& serviceType)
    : m_myPeerID(myPeerID), m_discoveryInfo(discoveryInfo), m_serviceType(serviceType),
      m_core(new Core(myPeerID)) {}

std::shared_ptr<ZNFPeerAdvertiser> ZNFPeerAdvertiser::create(const ZNFPeerID& myPeerID,
                                                             const ZNFDiscoveryInfo& discoveryInfo,
                                                             const QString& serviceType) {
    auto* advertiser = new ZNFPeerAdvertiser(myPeerID, discoveryInfo, serviceType);
    return advertiser->m_core->bind(advertiser);
}

ZNFPeerAdvertiser::~ZNFPeerAdvertiser() {
    m_core->release();
}

void ZNFPeerAdvertiser::setDelegate(const std::weak_ptr<ZNFPeerAdvertiserDelegate>& delegate) {
    m_core->setDelegate(delegate);
}

std::shared_ptr<ZNFPeerAdvertiserDelegate> ZNFPeerAdvertiser::delegate() const {
    return m_core->delegate();
}

void ZNFPeerAdvertiser::startAdvertisingPeer() {
    Core* core = m_core;
    if (core->isRunning() || core->refuseInvalidServiceType(m_serviceType))
        return;
    auto server = std::make_unique<SecureServer>();
    if (!server->listen(ZNFPeerDiscovery::listenAddress(), 0)) {
        core->refuseStart(ZNFPeerError(ZNFPeerError::ListenFailed, server->errorString()));
        return;
    }
    ZNFDiscoveryInfo txt;
    for (auto it = m_discoveryInfo.cbegin(); it != m_discoveryInfo.cend(); ++it) {
        if (it.key() == ZNFPeerDiscovery_displayNameKey || it.key() == ZNFPeerDiscovery_fingerprintKey ||
            it.key() == ZNFPeerDiscovery_peerIdKey)
            qCWarning(lcPeer()).noquote()
                << QStringLiteral("Discovery info key %1 is reserved and left out").arg(it.key());
        else
            txt.insert(it.key(), it.value());
    }
    txt.insert(ZNFPeerDiscovery_displayNameKey, m_myPeerID.displayName());
    if (m_myPeerID.identity())
        txt.insert(ZNFPeerDiscovery_fingerprintKey, m_myPeerID.uniqueID());
    else
        txt.insert(ZNFPeerDiscovery_peerIdKey, m_myPeerID.uniqueID());
    std::unique_ptr<ZNFDiscoveryPublisher> publisher = ZNFDiscoveryPublisher::create();
    const ZNFPeerError error =
        publisher->start(m_serviceType, ZNFPeerDiscovery::instanceName(m_myPeerID.uniqueID()),
                         server->serverPort(), ZNFPeerDiscovery::encodeTXT(txt));
    if (!error.isNull()) {
        core->refuseStart(error);
        return;
    }
    core->markStarted([core, port = server->serverPort()] { core->port = port; });
    server->moveToThread(core->thread());
    publisher->moveToThread(core->thread());
    // Held by the posted call until it runs: an advertiser destroyed first drops the call, and
    // the server and publisher go with it instead of leaking.
    auto pending = std::make_shared<std::pair<decltype(server), decltype(publisher)>>(std::move(server),
                                                                                      std::move(publisher));
    ZNFPeerLayer::post(
        core, [core, pending] { core->attach(pending->first.release(), pending->second.release()); });
}

void ZNFPeerAdvertiser::stopAdvertisingPeer() {
    Core* core = m_core;
    if (core->markStopped([core] { core->port = 0; }))
        ZNFPeerLayer::post(core, [core] { core->detach(); });
}

bool ZNFPeerAdvertiser::isAdvertising() const {
    return m_core->isRunning();
}

ZNFPeerError ZNFPeerAdvertiser::startError() const {
    return m_core->startError();
}

quint16 ZNFPeerAdvertiser::port() const {
    QMutexLocker lock(&m_core->mutex);
    return m_core->port;
}
