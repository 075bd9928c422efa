#include "platform/peer/ZNFPeerSession.h"

#include "platform/ZNFLog.h"
#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerLayer_p.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFSha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryFile>
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

// A resource on its way out: read, hashed and sent a chunk at a time.
struct Outgoing {
    quint32 id = 0;
    QString name;
    std::unique_ptr<QFile> file;
    qint64 size = 0;
    qint64 sent = 0;
    bool begun = false;
    ZNFSha256 sha;
    QByteArray digest;
    std::shared_ptr<ZNFProgress> progress;
    ZNFPeerSession::Completion completion;
};

// A resource coming in: written to a temporary file, hashed as it is written.
struct Incoming {
    QString name;
    qint64 size = 0;
    qint64 received = 0;
    std::unique_ptr<QTemporaryFile> file;
    ZNFSha256 sha;
    std::shared_ptr<ZNFProgress> progress;
};

struct Link {
    ZNFPeerConnection* connection = nullptr;
    ZNFPeerID peer;
    qint64 state = ZNFPeerSession::Connecting;
    std::deque<std::unique_ptr<Outgoing>> queue; // the front one is streaming
    std::map<quint32, std::unique_ptr<Outgoing>> awaiting;
    std::map<quint32, std::unique_ptr<Incoming>> incoming;
    QSet<quint32> discarded; // failed incoming transfers whose late frames are ignored
    quint32 nextId = 1;
};
} // namespace

class ZNFPeerSession::Core : public QObject {
public:
    explicit Core(const ZNFPeerID& me) : m_me(me) {}
    ~Core() override;

    std::weak_ptr<ZNFPeerSession> handle;
    mutable QMutex mutex;
    std::weak_ptr<ZNFPeerSessionDelegate> delegate;
    QList<ZNFPeerID> connected;

    void connectTo(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                   const QByteArray& context, int timeoutMs);
    void adopt(ZNFPeerConnection* connection, const ZNFPeerID& peer);
    void sendData(const QByteArray& data, const QList<ZNFPeerID>& peers);
    void sendResource(const QString& path, const QString& name, const ZNFPeerID& peer,
                      const std::shared_ptr<ZNFProgress>& progress, const Completion& completion);
    void disconnectAll();
    void invitationFailed(const ZNFPeerID& peer);

private:
    using Work = std::vector<std::function<void()>>;

    template <typename F> void notify(F&& call) {
        std::shared_ptr<ZNFPeerSession> session = handle.lock();
        std::shared_ptr<ZNFPeerSessionDelegate> target;
        {
            QMutexLocker lock(&mutex);
            target = delegate.lock();
        }
        if (session && target)
            call(*target, session);
    }
    void notifyState(const ZNFPeerID& peer, qint64 state) {
        notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
            d.session(s, peer, state);
        });
    }
    void run(Work& work) {
        for (auto& item : work)
            item();
    }

    Link* newLink(ZNFPeerConnection* connection, const ZNFPeerID& peer);
    Link* linkForPeer(const ZNFPeerID& peer) const;
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
    void failIncoming(Link* link, quint32 id, const ZNFPeerError& error, bool tellSender);
    void pump(Link* link);

    const ZNFPeerID m_me;
    std::vector<std::unique_ptr<Link>> m_links;
};

ZNFPeerSession::Core::~Core() {
    // No delegate is told anything now: its session is gone. Senders waiting on a completion
    // still hear that their transfer ended, and no partial file is left behind.
    Work work;
    for (auto& link : m_links) {
        for (auto& [id, in] : link->incoming)
            if (in->file)
                in->file->remove();
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
    link->connection = connection;
    link->peer = peer;
    Link* raw = link.get();
    m_links.push_back(std::move(link));
    connection->onFrame = [this, raw](quint8 type, const QByteArray& payload) {
        onFrame(raw, type, payload);
    };
    connection->onClosed = [this, raw](const ZNFPeerError& error) { closeLink(raw, error, false); };
    connection->onDrained = [this, raw] { pump(raw); };
    return raw;
}

Link* ZNFPeerSession::Core::linkForPeer(const ZNFPeerID& peer) const {
    // The newest connected link wins when a peer connected more than once.
    for (auto it = m_links.rbegin(); it != m_links.rend(); ++it)
        if ((*it)->state == Connected && (*it)->peer == peer)
            return it->get();
    return nullptr;
}

void ZNFPeerSession::Core::connectTo(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                                     const QByteArray& context, int timeoutMs) {
    auto* socket = new QTcpSocket;
    auto* connection = new ZNFPeerConnection(socket, this);
    Link* link = newLink(connection, peer);
    connection->setDeadline(
        timeoutMs,
        ZNFPeerError(ZNFPeerError::TimedOut, QStringLiteral("the invitation was not answered in time")));
    QObject::connect(socket, &QTcpSocket::connected, connection, [this, connection, context] {
        ZNFFrameWriter invite;
        invite.u8(ZNFPeerFrame::kProtocolVersion).string(m_me.uniqueID()).string(m_me.displayName());
        invite.u8(context.isNull() ? 0 : 1).bytes(context);
        connection->send(ZNFPeerFrame::Invite, invite.payload());
    });
    notifyState(link->peer, Connecting);
    socket->connectToHost(address, port);
}

void ZNFPeerSession::Core::invitationFailed(const ZNFPeerID& peer) {
    notifyState(peer, NotConnected);
}

void ZNFPeerSession::Core::adopt(ZNFPeerConnection* connection, const ZNFPeerID& peer) {
    connection->setParent(this);
    if (!connection->isOpen()) {
        connection->deleteLater();
        notifyState(peer, NotConnected);
        return;
    }
    Link* link = newLink(connection, peer);
    notifyState(peer, Connecting);
    if (!connection->isOpen())
        return;
    connection->send(ZNFPeerFrame::Accept,
                     ZNFFrameWriter().string(m_me.uniqueID()).string(m_me.displayName()).payload());
    becomeConnected(link);
    connection->resume();
}

void ZNFPeerSession::Core::becomeConnected(Link* link) {
    link->state = Connected;
    {
        QMutexLocker lock(&mutex);
        connected.append(link->peer);
    }
    notifyState(link->peer, Connected);
}

void ZNFPeerSession::Core::closeLink(Link* link, const ZNFPeerError& error, bool graceful) {
    auto it = std::find_if(m_links.begin(), m_links.end(), [link](const auto& l) { return l.get() == link; });
    if (it == m_links.end())
        return;
    std::unique_ptr<Link> owned = std::move(*it);
    m_links.erase(it);

    Work work;
    failResources(link, error, work);
    if (link->state == Connected) {
        QMutexLocker lock(&mutex);
        connected.removeOne(link->peer);
    }
    ZNFLogf(QStringLiteral("Peer %@ disconnected: %@"), link->peer.description(), error.description());
    ZNFPeerConnection* connection = link->connection;
    connection->onFrame = nullptr;
    connection->onClosed = nullptr;
    connection->onDrained = nullptr;
    if (graceful)
        connection->closeGracefully();
    else
        connection->deleteLater();
    const ZNFPeerID peer = link->peer;
    run(work);
    notifyState(peer, NotConnected);
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
        in->file->remove();
        work.push_back([this, name = in->name, peer = link->peer, error] {
            notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
                d.session(s, name, peer, QUrl(), error);
            });
        });
    }
    link->incoming.clear();
}

void ZNFPeerSession::Core::onFrame(Link* link, quint8 type, const QByteArray& payload) {
    if (link->state == Connecting) {
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
    if (!reader.ok() || id.isEmpty() || (!link->peer.isNull() && link->peer.uniqueID() != id)) {
        link->connection->fail(protocolError(QStringLiteral("the invitation was accepted by another peer")));
        return;
    }
    if (link->peer.isNull())
        link->peer = ZNFPeerID(name, id);
    link->connection->clearDeadline();
    becomeConnected(link);
}

void ZNFPeerSession::Core::onResourceBegin(Link* link, const QByteArray& payload) {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const QString name = reader.string(limits.maxNameBytes);
    const quint64 size = reader.u64();
    if (!reader.ok() || !reader.atEnd() || size > quint64(std::numeric_limits<qint64>::max()) ||
        link->incoming.count(id) || link->discarded.contains(id)) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource announcement")));
        return;
    }
    if (int(link->incoming.size()) >= limits.maxIncomingTransfers) {
        link->connection->fail(protocolError(QStringLiteral("too many resources at once")));
        return;
    }
    auto in = std::make_unique<Incoming>();
    in->name = name;
    in->size = qint64(size);
    in->progress = std::make_shared<ZNFProgress>(qint64(size));
    // The name stays a label: the bytes go to a file of our own choosing.
    in->file = std::make_unique<QTemporaryFile>(
        QDir(QDir::tempPath()).filePath(QStringLiteral("notecrate-resource-XXXXXX")));
    in->file->setAutoRemove(false);
    const bool opened = in->file->open();
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
        if (!link->discarded.contains(id))
            link->connection->fail(protocolError(QStringLiteral("chunk for an unknown resource")));
        return;
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
    const char* data = payload.constData() + 4;
    if (in.file->write(data, length) != length) {
        failIncoming(
            link, id,
            ZNFPeerError(ZNFPeerError::FileError,
                         QStringLiteral("cannot store the resource: %1").arg(in.file->errorString())),
            true);
        return;
    }
    in.sha.addData(data, length);
    in.received += length;
    in.progress->setCompletedUnitCount(in.received);
}

void ZNFPeerSession::Core::onResourceEnd(Link* link, const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const QByteArray senderDigest = reader.rest();
    if (!reader.ok() || senderDigest.size() != 32) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource end")));
        return;
    }
    auto it = link->incoming.find(id);
    if (it == link->incoming.end()) {
        if (!link->discarded.contains(id))
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
    const bool flushed = in.file->flush();
    in.file->close();
    const QString path = in.file->fileName();
    if (!flushed || QFileInfo(path).size() != in.size) {
        failIncoming(
            link, id,
            ZNFPeerError(ZNFPeerError::FileError, QStringLiteral("the stored resource is incomplete")), true);
        return;
    }
    const QByteArray digest = in.sha.result();
    if (digest != senderDigest) {
        failIncoming(
            link, id,
            ZNFPeerError(ZNFPeerError::HashMismatch, QStringLiteral("the resource's SHA-256 does not match")),
            true);
        return;
    }
    std::unique_ptr<Incoming> done = std::move(it->second);
    link->incoming.erase(it);
    link->discarded.insert(id);
    ZNFPeerConnection* connection = link->connection;
    QPointer<ZNFPeerConnection> alive(connection);
    const ZNFPeerID peer = link->peer;
    notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
        d.session(s, done->name, peer, QUrl::fromLocalFile(path), ZNFPeerError());
    });
    QFile::remove(path);
    // Confirmed only after the delegate had the file, so the sender's success means stored.
    if (alive && alive->isOpen())
        alive->send(ZNFPeerFrame::ResourceResult,
                    ZNFFrameWriter().u32(id).u32(0).u64(quint64(done->size)).raw(digest).payload());
}

void ZNFPeerSession::Core::failIncoming(Link* link, quint32 id, const ZNFPeerError& error, bool tellSender) {
    auto it = link->incoming.find(id);
    if (it == link->incoming.end())
        return;
    std::unique_ptr<Incoming> in = std::move(it->second);
    link->incoming.erase(it);
    link->discarded.insert(id);
    in->file->remove();
    ZNFLogf(QStringLiteral("Receiving resource %@ failed: %@"), in->name, error.description());
    if (tellSender)
        link->connection->send(ZNFPeerFrame::ResourceResult, ZNFFrameWriter()
                                                                 .u32(id)
                                                                 .u32(quint32(error.code()))
                                                                 .u64(quint64(in->received))
                                                                 .raw(QByteArray(32, 0))
                                                                 .payload());
    const ZNFPeerID peer = link->peer;
    notify([&](ZNFPeerSessionDelegate& d, const std::shared_ptr<ZNFPeerSession>& s) {
        d.session(s, in->name, peer, QUrl(), error);
    });
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
    if (!reader.ok()) {
        link->connection->fail(protocolError(QStringLiteral("malformed resource result")));
        return;
    }
    std::unique_ptr<Outgoing> out;
    if (auto it = link->awaiting.find(id); it != link->awaiting.end()) {
        out = std::move(it->second);
        link->awaiting.erase(it);
    } else if (!link->queue.empty() && link->queue.front()->id == id && link->queue.front()->begun) {
        // The receiver gave up before the end (it could not store the file, say).
        out = std::move(link->queue.front());
        link->queue.pop_front();
    } else if (id != 0 && id < link->nextId) {
        // One this side already gave up on: the receiver's answer crossed our abort.
        return;
    } else {
        link->connection->fail(protocolError(QStringLiteral("result for an unknown resource")));
        return;
    }
    ZNFPeerError error;
    if (code == quint32(ZNFPeerError::Cancelled))
        error = receiverCancelled();
    else if (code != 0)
        error = ZNFPeerError(code <= quint32(ZNFPeerError::TooLarge) ? ZNFPeerError::Code(code)
                                                                     : ZNFPeerError::FileError,
                             QStringLiteral("the peer could not store the resource (error %1)").arg(code));
    else if (qint64(size) != out->size)
        error = ZNFPeerError(ZNFPeerError::SizeMismatch,
                             QStringLiteral("the peer stored %1 of %2 bytes").arg(size).arg(out->size));
    else if (digest != out->digest)
        error = ZNFPeerError(ZNFPeerError::HashMismatch,
                             QStringLiteral("the peer stored other bytes than were sent"));
    if (out->completion)
        out->completion(error);
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
    out->file = std::make_unique<QFile>(path);
    if (path.isEmpty() || !out->file->open(QIODevice::ReadOnly) || out->file->isSequential()) {
        finish(ZNFPeerError(ZNFPeerError::FileError, QStringLiteral("cannot read %1").arg(path)));
        return;
    }
    out->id = link->nextId++;
    out->name = name;
    out->size = out->file->size();
    out->progress = progress;
    out->progress->setTotalUnitCount(out->size);
    out->completion = completion;
    link->queue.push_back(std::move(out));
    pump(link);
}

void ZNFPeerSession::Core::pump(Link* link) {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    QPointer<ZNFPeerConnection> connection(link->connection);
    while (connection && connection->isOpen() && !link->queue.empty() &&
           connection->bytesToWrite() < limits.writeHighWater) {
        Outgoing& out = *link->queue.front();
        auto fail = [&](const ZNFPeerError& error) {
            if (out.begun)
                connection->send(ZNFPeerFrame::ResourceAbort, ZNFFrameWriter().u32(out.id).payload());
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
        }
        const qint64 want = qMin<qint64>(limits.chunkBytes, out.size - out.sent);
        if (want > 0) {
            const QByteArray chunk = out.file->read(want);
            if (chunk.size() != want) {
                fail(ZNFPeerError(ZNFPeerError::FileError,
                                  QStringLiteral("reading %1 failed").arg(out.file->fileName())));
                continue;
            }
            out.sha.addData(chunk);
            out.sent += want;
            connection->send(ZNFPeerFrame::ResourceChunk, ZNFFrameWriter().u32(out.id).raw(chunk).payload());
            out.progress->setCompletedUnitCount(out.sent);
        }
        if (out.sent == out.size) {
            out.digest = out.sha.result();
            out.file.reset();
            connection->send(ZNFPeerFrame::ResourceEnd,
                             ZNFFrameWriter().u32(out.id).raw(out.digest).payload());
            std::unique_ptr<Outgoing> sent = std::move(link->queue.front());
            link->queue.pop_front();
            const quint32 id = sent->id;
            link->awaiting.emplace(id, std::move(sent));
        }
    }
}

void ZNFPeerSession::Core::disconnectAll() {
    std::vector<Link*> links;
    for (auto& link : m_links)
        links.push_back(link.get());
    for (Link* link : links)
        closeLink(link, lost(QStringLiteral("the session was disconnected")), true);
}

// --- the handle ---

ZNFPeerSession::ZNFPeerSession(const ZNFPeerID& myPeerID, const QVariantList& securityIdentity,
                               qint64 encryptionPreference)
    : m_myPeerID(myPeerID), m_securityIdentity(securityIdentity),
      m_encryptionPreference(encryptionPreference), m_core(new Core(myPeerID)) {
    m_core->moveToThread(ZNFPeerLayer::nextThread());
}

std::shared_ptr<ZNFPeerSession> ZNFPeerSession::create(const ZNFPeerID& myPeerID) {
    return create(myPeerID, {}, 0);
}

std::shared_ptr<ZNFPeerSession> ZNFPeerSession::create(const ZNFPeerID& myPeerID,
                                                       const QVariantList& securityIdentity,
                                                       qint64 encryptionPreference) {
    std::shared_ptr<ZNFPeerSession> session(
        new ZNFPeerSession(myPeerID, securityIdentity, encryptionPreference));
    session->m_core->handle = session;
    return session;
}

ZNFPeerSession::~ZNFPeerSession() {
    m_core->deleteLater();
}

void ZNFPeerSession::setDelegate(const std::weak_ptr<ZNFPeerSessionDelegate>& delegate) {
    QMutexLocker lock(&m_core->mutex);
    m_core->delegate = delegate;
}

std::shared_ptr<ZNFPeerSessionDelegate> ZNFPeerSession::delegate() const {
    QMutexLocker lock(&m_core->mutex);
    return m_core->delegate.lock();
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
    connection->onFrame = nullptr;
    connection->onClosed = nullptr;
    connection->onDrained = nullptr;
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
