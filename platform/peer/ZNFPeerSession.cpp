#include "platform/peer/ZNFPeerSession.h"

#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerHandle_p.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLayer_p.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerLog.h"
#include "platform/peer/ZNFResourceName.h"
#include "platform/peer/ZNFSha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QRandomGenerator>
#include <QSet>
#include <QSslSocket>
#include <QStorageInfo>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QtEndian>
#include <atomic>
#include <deque>
#include <map>
#include <vector>

namespace {
constexpr int kDefaultInvitationSeconds = 30;

ZNFPeerError lost(const QString& why) {
    return ZNFPeerError(ZNFPeerError::ConnectionLost, why);
}
ZNFPeerError protocolError(const QString& why) {
    return ZNFPeerError(ZNFPeerError::ProtocolError, why);
}

// The receiving side cancelled the progress object it was handed: the sender hears it as a
// failure, so nothing counts as delivered that the receiver did not keep.
ZNFPeerError receiverCancelled() {
    return ZNFPeerError(ZNFPeerError::Cancelled, QStringLiteral("the receiver cancelled the transfer"));
}

// What the sender makes of a receiver's refusal code.
ZNFPeerError receiverRefusal(quint32 code) {
    switch (code) {
    case ZNFPeerError::Cancelled:
        return receiverCancelled();
    case ZNFPeerError::InvalidName:
        return ZNFPeerError(ZNFPeerError::InvalidName,
                            QStringLiteral("the receiver refused the resource name"));
    case ZNFPeerError::TooLarge:
        return ZNFPeerError(ZNFPeerError::TooLarge,
                            QStringLiteral("the resource is larger than the receiver accepts"));
    case ZNFPeerError::NoSpace:
        return ZNFPeerError(ZNFPeerError::NoSpace,
                            QStringLiteral("the receiver has not enough free disk space for the resource"));
    default:
        return ZNFPeerError(code <= quint32(ZNFPeerError::LastCode) ? ZNFPeerError::Code(code)
                                                                    : ZNFPeerError::FileError,
                            QStringLiteral("the peer could not store the resource (error %1)").arg(code));
    }
}

// Reading and hashing ahead of the socket, on a worker. Fields below the mutex belong to
// the worker's jobs, which run one at a time.
struct OutgoingPipe {
    QMutex mutex;
    std::deque<QByteArray> ready; // whole chunk frames, in file order
    QByteArray digest;            // set with the last chunk
    QString error;
    std::atomic<bool> stop{false};

    QFile file;
    ZNFSha256 sha;
    ZNFBufferPool frames{0};
};

// A resource on its way out.
struct Outgoing {
    ~Outgoing() {
        pipe->stop = true;
        work.reset(); // waits for a read in progress; the rest see `stop`
    }
    quint32 id = 0;
    QString name;
    qint64 size = 0;
    qint64 requested = 0; // bytes asked of the worker
    qint64 sent = 0;      // bytes handed to the socket
    bool begun = false;
    std::shared_ptr<OutgoingPipe> pipe = std::make_shared<OutgoingPipe>();
    std::unique_ptr<ZNFSerialWork> work = std::make_unique<ZNFSerialWork>();
    QByteArray digest;
    std::shared_ptr<ZNFProgress> progress;
    ZNFPeerSession::Completion completion;
};

// Storing and hashing behind the socket, on a worker.
struct IncomingSink {
    std::atomic<bool> stop{false};
    QTemporaryFile file;
    ZNFSha256 sha;
    qint64 written = 0;
    QString error;
};

// A resource coming in.
struct Incoming {
    ~Incoming() {
        sink->stop = true;
        work.reset();
    }
    QString name;
    qint64 size = 0;
    qint64 received = 0;
    std::shared_ptr<IncomingSink> sink = std::make_shared<IncomingSink>();
    std::unique_ptr<ZNFSerialWork> work = std::make_unique<ZNFSerialWork>();
    std::shared_ptr<ZNFProgress> progress;
};

struct Link {
    quint64 key = 0; // how workers find the link again, once it may be gone
    ZNFPeerConnection* connection = nullptr;
    ZNFPeerID peer;
    ZNFPeerSession::State state = ZNFPeerSession::State::Connecting;
    std::deque<std::unique_ptr<Outgoing>> queue; // the front one is streaming
    std::map<quint32, std::unique_ptr<Outgoing>> awaiting;
    QSet<quint32> abandoned; // aborted here: one late result each is still expected
    std::map<quint32, std::unique_ptr<Incoming>> incoming;
    quint32 lastIncomingId = 0; // transfers are numbered upwards; anything at or below is over
    quint32 nextId = 1;
    bool waitingForStorage = false;
    // The inviter's side of the code exchange: our nonce, and the code once it is revealed.
    QByteArray nonce;
    QString code;

    bool hasTransfer() const { return !queue.empty() || !awaiting.empty() || !incoming.empty(); }
};
} // namespace

class ZNFPeerSession::Core : public ZNFPeerCore<ZNFPeerSession, ZNFPeerSessionDelegate> {
public:
    explicit Core(const ZNFPeerID& me) : m_me(me) {}
    ~Core() override;

    // Connected peers, under the mutex: what the handle's callers read on their threads.
    QList<ZNFPeerID> connected;

    void connectTo(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                   const QByteArray& context, int timeoutMs);
    void adopt(ZNFPeerConnection* connection, const ZNFPeerID& peer);
    void sendData(const QByteArray& data, const QList<ZNFPeerID>& peers);
    void sendResource(const QString& path, const QString& name, const ZNFPeerID& peer,
                      const std::shared_ptr<ZNFProgress>& progress, const Completion& completion);
    void disconnectAll();
    void disconnectPeer(const ZNFPeerID& peer);
    void invitationFailed(const ZNFPeerID& peer);

private:
    using Work = std::vector<std::function<void()>>;

    void notifyState(const ZNFPeerID& peer, State state) {
        notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
            d.session(s, peer, state);
        });
    }
    void notifyFinished(const QString& name, const ZNFPeerID& peer, const QUrl& url,
                        const ZNFPeerError& error) {
        notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
            d.session(s, name, peer, url, error);
        });
    }
    void run(Work& work) {
        for (auto& item : work)
            item();
    }

    Link* newLink(ZNFPeerConnection* connection, const ZNFPeerID& peer);
    Link* linkForPeer(const ZNFPeerID& peer) const;
    Link* linkForKey(quint64 key) const;
    bool hasLinkTo(const ZNFPeerID& peer, const Link* except = nullptr) const;
    bool atLinkLimit() const;
    void becomeConnected(Link* link);
    void closeLink(Link* link, const ZNFPeerError& error, bool graceful);
    void failResources(Link* link, const ZNFPeerError& error, Work& work);

    void onFrame(Link* link, quint8 type, const QByteArray& payload);
    void onInvitationAnswer(Link* link, quint8 type, const QByteArray& payload);
    void onResourceBegin(Link* link, const QByteArray& payload);
    void onResourceChunk(Link* link, const QByteArray& payload);
    void onResourceEnd(Link* link, const QByteArray& payload);
    void onResourceResult(Link* link, const QByteArray& payload);
    void onResourceAbort(Link* link, const QByteArray& payload);
    void refuseIncoming(Link* link, quint32 id, const QString& name, const ZNFPeerError& error);
    void failIncoming(Link* link, quint32 id, const ZNFPeerError& error, bool tellSender);
    void storageProgressed(quint64 key);
    void pump(Link* link);
    void readAhead(Link* link, Outgoing& out);
    qint64 reservedBytes() const;

    const ZNFPeerID m_me;
    std::vector<std::unique_ptr<Link>> m_links;
    quint64 m_nextLinkKey = 1;
};

ZNFPeerSession::Core::~Core() {
    // No delegate is told anything now: its session is gone. Senders waiting on a completion
    // still hear that their transfer ended, and no partial file is left behind.
    Work work;
    for (auto& link : m_links) {
        for (auto& [id, in] : link->incoming) {
            in->sink->stop = true;
            in->work->waitForDone();
            in->sink->file.remove();
        }
        link->incoming.clear();
        auto fail = [&work](std::unique_ptr<Outgoing>& out) {
            if (out->completion)
                work.push_back(
                    [c = out->completion] { c(lost(QStringLiteral("the session was released"))); });
        };
        for (auto& out : link->queue)
            fail(out);
        for (auto& [id, out] : link->awaiting)
            fail(out);
    }
    m_links.clear();
    run(work);
}

Link* ZNFPeerSession::Core::newLink(ZNFPeerConnection* connection, const ZNFPeerID& peer) {
    auto link = std::make_unique<Link>();
    link->key = m_nextLinkKey++;
    link->connection = connection;
    link->peer = peer;
    Link* raw = link.get();
    m_links.push_back(std::move(link));
    connect(connection, &ZNFPeerConnection::frameReceived, this,
            [this, raw](quint8 type, const QByteArray& payload) { onFrame(raw, type, payload); });
    connect(connection, &ZNFPeerConnection::closed, this,
            [this, raw](const ZNFPeerError& error) { closeLink(raw, error, false); });
    connect(connection, &ZNFPeerConnection::drained, this, [this, raw] { pump(raw); });
    connect(connection, &ZNFPeerConnection::idle, this, [raw] {
        if (raw->hasTransfer())
            raw->connection->fail(ZNFPeerError(
                ZNFPeerError::TimedOut, QStringLiteral("no bytes moved for %1 seconds during a transfer")
                                            .arg(ZNFPeerLimits::current().idleTimeoutMs / 1000.0)));
    });
    return raw;
}

Link* ZNFPeerSession::Core::linkForPeer(const ZNFPeerID& peer) const {
    for (const auto& link : m_links)
        if (link->state == State::Connected && link->peer == peer)
            return link.get();
    return nullptr;
}

Link* ZNFPeerSession::Core::linkForKey(quint64 key) const {
    for (const auto& link : m_links)
        if (link->key == key)
            return link.get();
    return nullptr;
}

bool ZNFPeerSession::Core::hasLinkTo(const ZNFPeerID& peer, const Link* except) const {
    for (const auto& link : m_links)
        if (link.get() != except && !link->peer.isNull() && link->peer == peer)
            return true;
    return false;
}

bool ZNFPeerSession::Core::atLinkLimit() const {
    return int(m_links.size()) >= ZNFPeerLimits::current().maxLinksPerSession;
}

void ZNFPeerSession::Core::connectTo(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                                     const QByteArray& context, int timeoutMs) {
    if (!peer.isNull() && hasLinkTo(peer)) {
        qCInfo(lcPeer()).noquote() << QStringLiteral("Not inviting %1: this session already has a link to it")
                                          .arg(peer.description());
        return;
    }
    if (atLinkLimit()) {
        qCInfo(lcPeer()).noquote() << QStringLiteral(
                                          "Not inviting %1: this session holds as many links as it may")
                                          .arg(peer.description());
        notifyState(peer, State::NotConnected);
        return;
    }
    const auto identity = m_me.identity();
    auto* socket = identity ? new QSslSocket : new QTcpSocket;
    auto* connection = new ZNFPeerConnection(socket, this);
    // Only the key discovery announced for the peer is accepted, when it announced one.
    if (identity)
        connection->startTls(*identity, false, peer.uniqueID());
    Link* link = newLink(connection, peer);
    // Covers everything up to the answer, whatever the transport has to settle first.
    connection->setDeadline(
        timeoutMs,
        ZNFPeerError(ZNFPeerError::TimedOut, QStringLiteral("the invitation was not answered in time")));
    connect(connection, &ZNFPeerConnection::established, this, [this, connection, link, context] {
        ZNFFrameWriter invite;
        invite.u8(ZNFPeerFrame::kProtocolVersion).string(m_me.uniqueID()).string(m_me.displayName());
        invite.u8(context.isNull() ? 0 : 1).bytes(context);
        if (connection->isEncrypted()) {
            // Committed to now, revealed once the other side's nonce is in.
            link->nonce.resize(ZNFPeerCode::kNonceBytes);
            QRandomGenerator::system()->generate(link->nonce.begin(), link->nonce.end());
            invite.bytes(ZNFSha256::hash(link->nonce));
        } else {
            invite.bytes({});
        }
        connection->send(ZNFPeerFrame::Invite, invite.payload());
    });
    notifyState(link->peer, State::Connecting);
    socket->connectToHost(address, port);
}

void ZNFPeerSession::Core::invitationFailed(const ZNFPeerID& peer) {
    notifyState(peer, State::NotConnected);
}

void ZNFPeerSession::Core::adopt(ZNFPeerConnection* connection, const ZNFPeerID& peer) {
    connection->setParent(this);
    if (!connection->isOpen()) {
        connection->deleteLater();
        notifyState(peer, State::NotConnected);
        return;
    }
    // A second link claiming a peer we already have is not that peer as far as we know:
    // it gets nothing, and the peer's own link and handlers hear nothing of it.
    const bool impostor = hasLinkTo(peer);
    if (impostor || atLinkLimit()) {
        qCInfo(lcPeer()).noquote()
            << QStringLiteral("Declined %1: %2")
                   .arg(peer.description(),
                        impostor ? QStringLiteral("this session already has a link to a peer of that id")
                                 : QStringLiteral("this session holds as many links as it may"));
        connection->send(ZNFPeerFrame::Decline);
        connection->closeGracefully();
        if (!impostor)
            notifyState(peer, State::NotConnected);
        return;
    }
    Link* link = newLink(connection, peer);
    notifyState(peer, State::Connecting);
    if (!connection->isOpen())
        return;
    connection->send(ZNFPeerFrame::Accept,
                     ZNFFrameWriter().string(m_me.uniqueID()).string(m_me.displayName()).payload());
    becomeConnected(link);
    connection->resume();
}

void ZNFPeerSession::Core::becomeConnected(Link* link) {
    link->state = State::Connected;
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    link->connection->setKeepalive(limits.keepaliveIntervalMs, limits.idleTimeoutMs);
    {
        QMutexLocker lock(&mutex);
        connected.append(link->peer);
    }
    notifyState(link->peer, State::Connected);
}

void ZNFPeerSession::Core::closeLink(Link* link, const ZNFPeerError& error, bool graceful) {
    auto it = std::find_if(m_links.begin(), m_links.end(), [link](const auto& l) { return l.get() == link; });
    if (it == m_links.end())
        return;
    std::unique_ptr<Link> owned = std::move(*it);
    m_links.erase(it);

    Work work;
    failResources(link, error, work);
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
    run(work);
    notifyState(peer, State::NotConnected);
}

void ZNFPeerSession::Core::failResources(Link* link, const ZNFPeerError& error, Work& work) {
    auto fail = [&work](std::unique_ptr<Outgoing>& out, const ZNFPeerError& e) {
        if (out->completion)
            work.push_back([c = std::move(out->completion), e] { c(e); });
    };
    for (auto& out : link->queue)
        fail(out, error);
    for (auto& [id, out] : link->awaiting)
        fail(out, error);
    link->queue.clear();
    link->awaiting.clear();
    for (auto& [id, in] : link->incoming) {
        in->sink->stop = true;
        in->work->waitForDone();
        in->sink->file.remove();
        work.push_back(
            [this, name = in->name, peer = link->peer, error] { notifyFinished(name, peer, QUrl(), error); });
    }
    link->incoming.clear();
}

void ZNFPeerSession::Core::onFrame(Link* link, quint8 type, const QByteArray& payload) {
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
        onResourceBegin(link, payload);
        return;
    case ZNFPeerFrame::ResourceChunk:
        onResourceChunk(link, payload);
        return;
    case ZNFPeerFrame::ResourceEnd:
        onResourceEnd(link, payload);
        return;
    case ZNFPeerFrame::ResourceResult:
        onResourceResult(link, payload);
        return;
    case ZNFPeerFrame::ResourceAbort:
        onResourceAbort(link, payload);
        return;
    default:
        link->connection->fail(protocolError(QStringLiteral("unexpected frame type %1").arg(type)));
    }
}

void ZNFPeerSession::Core::onInvitationAnswer(Link* link, quint8 type, const QByteArray& payload) {
    const bool encrypted = link->connection->isEncrypted();
    if (type == ZNFPeerFrame::Nonce && encrypted && link->code.isEmpty()) {
        ZNFFrameReader reader(payload);
        const QByteArray theirs = reader.bytes(ZNFPeerCode::kNonceBytes);
        if (!reader.ok() || !reader.atEnd() || theirs.size() != ZNFPeerCode::kNonceBytes) {
            link->connection->fail(protocolError(QStringLiteral("malformed nonce")));
            return;
        }
        link->code =
            ZNFPeerCode::derive(m_me.uniqueID(), link->connection->peerFingerprint(), link->nonce, theirs);
        link->connection->send(ZNFPeerFrame::Reveal, ZNFFrameWriter().bytes(link->nonce).payload());
        return;
    }
    if (type == ZNFPeerFrame::Accept && encrypted && link->code.isEmpty()) {
        link->connection->fail(protocolError(QStringLiteral("accepted before the code was exchanged")));
        return;
    }
    if (type == ZNFPeerFrame::Decline) {
        link->connection->fail(
            ZNFPeerError(ZNFPeerError::Declined, QStringLiteral("the peer declined the invitation")));
        return;
    }
    if (type != ZNFPeerFrame::Accept) {
        link->connection->fail(
            protocolError(QStringLiteral("frame type %1 before the invitation was answered").arg(type)));
        return;
    }
    const int maxName = ZNFPeerLimits::current().maxNameBytes;
    ZNFFrameReader reader(payload);
    const QString id = reader.string(maxName);
    const QString name = reader.string(maxName);
    if (!reader.ok() || id.isEmpty() || (!link->peer.isNull() && link->peer.uniqueID() != id) ||
        (encrypted && id != link->connection->peerFingerprint())) {
        link->connection->fail(protocolError(QStringLiteral("the invitation was accepted by another peer")));
        return;
    }
    if (link->peer.isNull()) {
        if (hasLinkTo(ZNFPeerID(name, id), link)) {
            link->connection->fail(
                protocolError(QStringLiteral("the invitation was accepted by a peer already linked")));
            return;
        }
        link->peer = ZNFPeerID(name, id);
    }
    link->peer.setVerificationCode(link->code);
    link->connection->clearDeadline();
    becomeConnected(link);
}

qint64 ZNFPeerSession::Core::reservedBytes() const {
    qint64 total = 0;
    for (const auto& link : m_links)
        for (const auto& [id, in] : link->incoming)
            total += in->size - in->received;
    return total;
}

// Refused before anything is stored: the sender hears why, the delegate only that it ended.
void ZNFPeerSession::Core::refuseIncoming(Link* link, quint32 id, const QString& name,
                                          const ZNFPeerError& error) {
    qCWarning(lcPeer()).noquote() << QStringLiteral("Refused resource %1: %2")
                                         .arg(ZNFResourceName::printable(name), error.description());
    link->connection->send(ZNFPeerFrame::ResourceResult, ZNFFrameWriter()
                                                             .u32(id)
                                                             .u32(quint32(error.code()))
                                                             .u64(0)
                                                             .raw(QByteArray(ZNFPeerFrame::kDigestBytes, 0))
                                                             .payload());
    notifyFinished(name, link->peer, QUrl(), error);
}

void ZNFPeerSession::Core::onResourceBegin(Link* link, const QByteArray& payload) {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const QString name = reader.string(limits.maxNameBytes);
    const quint64 announced = reader.u64();
    if (!reader.ok() || !reader.atEnd() || id <= link->lastIncomingId) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource announcement")));
        return;
    }
    link->lastIncomingId = id;
    if (int(link->incoming.size()) >= limits.maxIncomingTransfers) {
        link->connection->fail(protocolError(QStringLiteral("too many resources at once")));
        return;
    }
    if (const QString problem = ZNFResourceName::problem(name); !problem.isEmpty()) {
        refuseIncoming(link, id, name, ZNFPeerError(ZNFPeerError::InvalidName, problem));
        return;
    }
    if (announced > quint64(limits.maxResourceBytes)) {
        refuseIncoming(link, id, name,
                       ZNFPeerError(ZNFPeerError::TooLarge, QStringLiteral("%1 bytes is over the limit of %2")
                                                                .arg(announced)
                                                                .arg(limits.maxResourceBytes)));
        return;
    }
    const qint64 size = qint64(announced);
    const QStorageInfo disk(QDir::tempPath());
    const qint64 room = disk.bytesAvailable() - limits.freeSpaceMarginBytes - reservedBytes();
    if (disk.isValid() && disk.bytesAvailable() >= 0 && size > room) {
        refuseIncoming(link, id, name,
                       ZNFPeerError(ZNFPeerError::NoSpace,
                                    QStringLiteral("%1 bytes do not fit the %2 bytes free for resources")
                                        .arg(size)
                                        .arg(qMax<qint64>(0, room))));
        return;
    }
    if (!hasDelegate()) {
        refuseIncoming(link, id, name, receiverCancelled());
        return;
    }
    auto in = std::make_unique<Incoming>();
    in->name = name;
    in->size = size;
    in->progress = std::make_shared<ZNFProgress>(size);
    // The name stays a label: the bytes go to a file of our own choosing.
    in->sink->file.setFileTemplate(
        QDir(QDir::tempPath()).filePath(QStringLiteral("notecrate-resource-XXXXXX")));
    in->sink->file.setAutoRemove(false);
    const bool opened = in->sink->file.open();
    const std::shared_ptr<ZNFProgress> progress = in->progress;
    link->incoming.emplace(id, std::move(in));
    const ZNFPeerID peer = link->peer;
    notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
        d.session(s, name, peer, progress);
    });
    if (progress->isCancelled())
        failIncoming(link, id, receiverCancelled(), true);
    else if (!opened)
        failIncoming(link, id,
                     ZNFPeerError(ZNFPeerError::FileError, QStringLiteral("cannot create a temporary file")),
                     true);
}

void ZNFPeerSession::Core::onResourceChunk(Link* link, const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    if (!reader.ok()) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource chunk")));
        return;
    }
    auto it = link->incoming.find(id);
    if (it == link->incoming.end()) {
        if (id > link->lastIncomingId)
            link->connection->fail(protocolError(QStringLiteral("chunk for an unknown resource")));
        return; // late bytes of one that already failed
    }
    Incoming& in = *it->second;
    if (in.progress->isCancelled()) {
        failIncoming(link, id, receiverCancelled(), true);
        return;
    }
    const qint64 length = payload.size() - 4;
    if (in.received + length > in.size) {
        failIncoming(
            link, id,
            ZNFPeerError(ZNFPeerError::SizeMismatch,
                         QStringLiteral("the peer sent more than the %1 bytes it announced").arg(in.size)),
            true);
        return;
    }
    in.received += length;
    in.work->submit([this, sink = in.sink, payload, length, key = link->key] {
        if (sink->stop)
            return;
        const char* data = payload.constData() + 4;
        if (sink->error.isEmpty() && sink->file.write(data, length) != length)
            sink->error = QStringLiteral("cannot store the resource: %1").arg(sink->file.errorString());
        sink->sha.addData(data, length);
        sink->written += length;
        ZNFPeerLayer::post(this, [this, key] { storageProgressed(key); });
    });
    in.progress->setCompletedUnitCount(in.received);
    // Reading stops while storing lags, so a fast sender cannot fill our memory.
    if (in.work->pending() >= ZNFPeerLimits::current().pipelineChunks) {
        link->waitingForStorage = true;
        link->connection->setPaused(true);
    }
}

void ZNFPeerSession::Core::storageProgressed(quint64 key) {
    Link* link = linkForKey(key);
    if (!link || !link->waitingForStorage)
        return;
    for (const auto& [id, in] : link->incoming)
        if (in->work->pending() >= ZNFPeerLimits::current().pipelineChunks)
            return;
    link->waitingForStorage = false;
    link->connection->resume();
}

void ZNFPeerSession::Core::onResourceEnd(Link* link, const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const QByteArray senderDigest = reader.rest();
    if (!reader.ok() || senderDigest.size() != ZNFPeerFrame::kDigestBytes) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource end")));
        return;
    }
    auto it = link->incoming.find(id);
    if (it == link->incoming.end()) {
        if (id > link->lastIncomingId)
            link->connection->fail(protocolError(QStringLiteral("end of an unknown resource")));
        return;
    }
    Incoming& in = *it->second;
    if (in.progress->isCancelled()) {
        failIncoming(link, id, receiverCancelled(), true);
        return;
    }
    if (in.received != in.size) {
        failIncoming(link, id,
                     ZNFPeerError(ZNFPeerError::SizeMismatch,
                                  QStringLiteral("received %1 of %2 bytes").arg(in.received).arg(in.size)),
                     true);
        return;
    }
    // At most a few chunks are still being stored: wait for them here.
    in.work->waitForDone();
    IncomingSink& sink = *in.sink;
    const bool flushed = sink.error.isEmpty() && sink.file.flush();
    sink.file.close();
    const QString path = sink.file.fileName();
    if (!flushed || sink.written != in.size || QFileInfo(path).size() != in.size) {
        failIncoming(link, id,
                     ZNFPeerError(ZNFPeerError::FileError,
                                  sink.error.isEmpty() ? QStringLiteral("the stored resource is incomplete")
                                                       : sink.error),
                     true);
        return;
    }
    const QByteArray digest = sink.sha.result();
    if (digest != senderDigest) {
        failIncoming(
            link, id,
            ZNFPeerError(ZNFPeerError::HashMismatch, QStringLiteral("the resource's SHA-256 does not match")),
            true);
        return;
    }
    std::unique_ptr<Incoming> done = std::move(it->second);
    link->incoming.erase(it);
    QPointer<ZNFPeerConnection> alive(link->connection);
    notifyFinished(done->name, link->peer, QUrl::fromLocalFile(path), ZNFPeerError());
    QFile::remove(path);
    // Confirmed only after the delegate had the file, so the sender's success means stored. A
    // delegate that did not keep it cancels the progress, and the sender learns so.
    if (!alive || !alive->isOpen())
        return;
    if (done->progress->isCancelled()) {
        const ZNFPeerError refused = receiverCancelled();
        alive->send(ZNFPeerFrame::ResourceResult, ZNFFrameWriter()
                                                      .u32(id)
                                                      .u32(quint32(refused.code()))
                                                      .u64(quint64(done->size))
                                                      .raw(QByteArray(ZNFPeerFrame::kDigestBytes, 0))
                                                      .payload());
        return;
    }
    alive->send(ZNFPeerFrame::ResourceResult,
                ZNFFrameWriter().u32(id).u32(0).u64(quint64(done->size)).raw(digest).payload());
}

void ZNFPeerSession::Core::failIncoming(Link* link, quint32 id, const ZNFPeerError& error, bool tellSender) {
    auto it = link->incoming.find(id);
    if (it == link->incoming.end())
        return;
    std::unique_ptr<Incoming> in = std::move(it->second);
    link->incoming.erase(it);
    in->sink->stop = true;
    in->work->waitForDone();
    in->sink->file.remove();
    qCWarning(lcPeer()).noquote() << QStringLiteral("Receiving resource %1 failed: %2")
                                         .arg(ZNFResourceName::printable(in->name), error.description());
    if (tellSender)
        link->connection->send(ZNFPeerFrame::ResourceResult,
                               ZNFFrameWriter()
                                   .u32(id)
                                   .u32(quint32(error.code()))
                                   .u64(quint64(in->received))
                                   .raw(QByteArray(ZNFPeerFrame::kDigestBytes, 0))
                                   .payload());
    notifyFinished(in->name, link->peer, QUrl(), error);
    storageProgressed(link->key);
}

void ZNFPeerSession::Core::onResourceAbort(Link* link, const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    if (!reader.ok()) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource abort")));
        return;
    }
    failIncoming(link, id,
                 ZNFPeerError(ZNFPeerError::Cancelled, QStringLiteral("the sender stopped the transfer")),
                 false);
}

void ZNFPeerSession::Core::onResourceResult(Link* link, const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const quint32 code = reader.u32();
    const quint64 size = reader.u64();
    const QByteArray digest = reader.rest();
    if (!reader.ok() || digest.size() != ZNFPeerFrame::kDigestBytes) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource result")));
        return;
    }
    std::unique_ptr<Outgoing> out;
    if (auto it = link->awaiting.find(id); it != link->awaiting.end()) {
        out = std::move(it->second);
        link->awaiting.erase(it);
    } else if (!link->queue.empty() && link->queue.front()->id == id && link->queue.front()->begun) {
        // Only a refusal may come before our end of the resource: a confirmation of bytes we
        // have not all sent cannot be true.
        if (code == 0) {
            link->connection->fail(protocolError(QStringLiteral("a result before the end of the resource")));
            return;
        }
        out = std::move(link->queue.front());
        link->queue.pop_front();
    } else if (link->abandoned.remove(id)) {
        return; // the receiver's answer crossed our abort
    } else {
        link->connection->fail(protocolError(QStringLiteral("result for an unknown resource")));
        return;
    }
    ZNFPeerError error;
    if (code != 0)
        error = receiverRefusal(code);
    else if (size != quint64(out->size))
        error = ZNFPeerError(ZNFPeerError::SizeMismatch,
                             QStringLiteral("the peer stored %1 of %2 bytes").arg(size).arg(out->size));
    else if (digest != out->digest)
        error = ZNFPeerError(ZNFPeerError::HashMismatch,
                             QStringLiteral("the peer stored other bytes than were sent"));
    if (out->completion)
        out->completion(error);
    out.reset();
    pump(link);
}

void ZNFPeerSession::Core::sendData(const QByteArray& data, const QList<ZNFPeerID>& peers) {
    for (const ZNFPeerID& peer : peers)
        if (Link* link = linkForPeer(peer))
            link->connection->send(ZNFPeerFrame::Data, data);
}

void ZNFPeerSession::Core::sendResource(const QString& path, const QString& name, const ZNFPeerID& peer,
                                        const std::shared_ptr<ZNFProgress>& progress,
                                        const Completion& completion) {
    Link* link = linkForPeer(peer);
    auto finish = [&](const ZNFPeerError& error) {
        if (completion)
            completion(error);
    };
    if (!link) {
        finish(ZNFPeerError(ZNFPeerError::NotConnected,
                            QStringLiteral("%1 is not connected").arg(peer.displayName())));
        return;
    }
    if (name.toUtf8().size() > ZNFPeerLimits::current().maxNameBytes) {
        finish(ZNFPeerError(ZNFPeerError::TooLarge, QStringLiteral("the resource name is too long")));
        return;
    }
    auto out = std::make_unique<Outgoing>();
    QFile& file = out->pipe->file;
    file.setFileName(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly) || file.isSequential()) {
        finish(ZNFPeerError(ZNFPeerError::FileError, QStringLiteral("cannot read %1").arg(path)));
        return;
    }
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    // Enough frames for the read-ahead and what the socket's queue may hold.
    out->pipe->frames =
        ZNFBufferPool(limits.pipelineChunks + int(limits.writeHighWater / limits.chunkBytes) + 2);
    out->id = link->nextId++;
    out->name = name;
    out->size = file.size();
    out->progress = progress;
    out->progress->setTotalUnitCount(out->size);
    out->completion = completion;
    link->queue.push_back(std::move(out));
    pump(link);
}

// Keeps the worker reading and hashing a few chunks ahead of the socket.
void ZNFPeerSession::Core::readAhead(Link* link, Outgoing& out) {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    qsizetype ready;
    {
        QMutexLocker lock(&out.pipe->mutex);
        ready = qsizetype(out.pipe->ready.size());
    }
    while (out.requested < out.size && out.work->pending() + ready < limits.pipelineChunks) {
        const qint64 length = qMin<qint64>(limits.chunkBytes, out.size - out.requested);
        out.requested += length;
        const bool last = out.requested == out.size;
        out.work->submit([this, pipe = out.pipe, id = out.id, length, last, key = link->key] {
            if (pipe->stop)
                return;
            char* frame = nullptr;
            const QByteArray buffer = pipe->frames.take(ZNFPeerFrame::kChunkPrefixBytes + length, &frame);
            ZNFPeerFrame::writeHeader(frame, ZNFPeerFrame::ResourceChunk, quint32(4 + length));
            qToBigEndian(id, frame + ZNFPeerFrame::kHeaderBytes);
            char* data = frame + ZNFPeerFrame::kChunkPrefixBytes;
            const bool read = pipe->file.read(data, length) == length;
            if (read)
                pipe->sha.addData(data, length);
            {
                QMutexLocker lock(&pipe->mutex);
                if (!read)
                    pipe->error = QStringLiteral("reading %1 failed").arg(pipe->file.fileName());
                else
                    pipe->ready.push_back(buffer);
                if (read && last)
                    pipe->digest = pipe->sha.result();
            }
            ZNFPeerLayer::post(this, [this, key] {
                if (Link* link = linkForKey(key))
                    pump(link);
            });
        });
    }
}

void ZNFPeerSession::Core::pump(Link* link) {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    ZNFPeerConnection* connection = link->connection;
    while (connection->isOpen() && !link->queue.empty()) {
        Outgoing& out = *link->queue.front();
        auto fail = [&](const ZNFPeerError& error) {
            if (out.begun) {
                connection->send(ZNFPeerFrame::ResourceAbort, ZNFFrameWriter().u32(out.id).payload());
                link->abandoned.insert(out.id);
            }
            std::unique_ptr<Outgoing> failed = std::move(link->queue.front());
            link->queue.pop_front();
            if (failed->completion)
                failed->completion(error);
        };
        if (out.progress->isCancelled()) {
            fail(ZNFPeerError(ZNFPeerError::Cancelled, QStringLiteral("the transfer was cancelled")));
            continue;
        }
        if (!out.begun) {
            out.begun = true;
            connection->send(ZNFPeerFrame::ResourceBegin,
                             ZNFFrameWriter().u32(out.id).string(out.name).u64(quint64(out.size)).payload());
            if (out.size == 0)
                out.pipe->digest = ZNFSha256::hash(QByteArray());
        }
        readAhead(link, out);
        QString readError;
        while (connection->bytesToWrite() < limits.writeHighWater) {
            QByteArray frame;
            {
                QMutexLocker lock(&out.pipe->mutex);
                readError = out.pipe->error;
                if (!readError.isEmpty() || out.pipe->ready.empty())
                    break;
                frame = std::move(out.pipe->ready.front());
                out.pipe->ready.pop_front();
            }
            connection->sendFrame(frame);
            out.sent += frame.size() - ZNFPeerFrame::kChunkPrefixBytes;
            out.progress->setCompletedUnitCount(out.sent);
            readAhead(link, out);
        }
        if (!readError.isEmpty()) {
            fail(ZNFPeerError(ZNFPeerError::FileError, readError));
            continue;
        }
        if (out.sent < out.size)
            return; // more when the worker has read ahead or the socket has drained
        {
            QMutexLocker lock(&out.pipe->mutex);
            out.digest = out.pipe->digest;
        }
        out.pipe->file.close();
        connection->send(ZNFPeerFrame::ResourceEnd, ZNFFrameWriter().u32(out.id).raw(out.digest).payload());
        std::unique_ptr<Outgoing> sent = std::move(link->queue.front());
        link->queue.pop_front();
        const quint32 id = sent->id;
        link->awaiting.emplace(id, std::move(sent));
    }
}

void ZNFPeerSession::Core::disconnectAll() {
    std::vector<Link*> links;
    for (auto& link : m_links)
        links.push_back(link.get());
    for (Link* link : links)
        closeLink(link, lost(QStringLiteral("the session was disconnected")), true);
}

void ZNFPeerSession::Core::disconnectPeer(const ZNFPeerID& peer) {
    std::vector<Link*> links;
    for (auto& link : m_links)
        if (link->peer == peer)
            links.push_back(link.get());
    for (Link* link : links)
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
