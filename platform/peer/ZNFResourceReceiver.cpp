#include "platform/peer/ZNFResourceReceiver_p.h"

#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerErrors_p.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerLog.h"
#include "platform/peer/ZNFResourceName.h"
#include "platform/peer/ZNFSha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <atomic>

using namespace ZNFPeerErrors;

namespace {
// Storing and hashing behind the socket, on a worker.
struct IncomingSink {
    std::atomic<bool> stop{false};
    QTemporaryFile file;
    ZNFSha256 sha;
    qint64 written = 0;
    QString error;
};
} // namespace

// A resource coming in.
struct ZNFIncomingResource {
    ~ZNFIncomingResource() {
        sink->stop = true;
        work.reset();
    }
    // Stops storing and removes what was stored.
    void drop() {
        sink->stop = true;
        work->waitForDone();
        sink->file.remove();
    }
    QString name;
    qint64 size = 0;
    qint64 received = 0;
    std::shared_ptr<IncomingSink> sink = std::make_shared<IncomingSink>();
    std::unique_ptr<ZNFSerialWork> work = std::make_unique<ZNFSerialWork>();
    std::shared_ptr<ZNFProgress> progress;
};

ZNFResourceReceiver::ZNFResourceReceiver(ZNFResourceReceiverHost& host, quint64 link,
                                         ZNFPeerConnection* connection, const ZNFPeerID& peer)
    : m_host(host), m_link(link), m_connection(connection), m_peer(peer) {}

ZNFResourceReceiver::~ZNFResourceReceiver() = default;

void ZNFResourceReceiver::sendResult(ZNFPeerConnection* connection, quint32 id, const ZNFPeerError& error,
                                     qint64 storedSize, const QByteArray& digest) {
    connection->send(ZNFPeerFrame::ResourceResult,
                     ZNFFrameWriter()
                         .u32(id)
                         .u32(quint32(error.code()))
                         .u64(quint64(storedSize))
                         .raw(digest.isEmpty() ? QByteArray(ZNFPeerFrame::kDigestBytes, 0) : digest)
                         .payload());
}

qint64 ZNFResourceReceiver::reservedBytes() const {
    qint64 total = 0;
    for (const auto& [id, in] : m_incoming)
        total += in->size - in->received;
    return total;
}

// Refused before anything is stored: the sender hears why, the delegate only that it ended.
void ZNFResourceReceiver::refuse(quint32 id, const QString& name, const ZNFPeerError& error) {
    qCWarning(lcPeer()).noquote() << QStringLiteral("Refused resource %1: %2")
                                         .arg(ZNFResourceName::printable(name), error.description());
    sendResult(m_connection, id, error, 0);
    m_host.resourceFinished(name, m_peer, QUrl(), error);
}

void ZNFResourceReceiver::onBegin(const QByteArray& payload) {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const QString name = reader.string(limits.maxNameBytes);
    const quint64 announced = reader.u64();
    if (!reader.ok() || !reader.atEnd() || id <= m_lastId) {
        m_connection->fail(protocolError(QStringLiteral("malformed resource announcement")));
        return;
    }
    m_lastId = id;
    if (int(m_incoming.size()) >= limits.maxIncomingTransfers) {
        m_connection->fail(protocolError(QStringLiteral("too many resources at once")));
        return;
    }
    if (const QString problem = ZNFResourceName::problem(name); !problem.isEmpty()) {
        refuse(id, name, ZNFPeerError(ZNFPeerError::InvalidName, problem));
        return;
    }
    if (announced > quint64(limits.maxResourceBytes)) {
        refuse(id, name,
               ZNFPeerError(ZNFPeerError::TooLarge, QStringLiteral("%1 bytes is over the limit of %2")
                                                        .arg(announced)
                                                        .arg(limits.maxResourceBytes)));
        return;
    }
    const qint64 size = qint64(announced);
    const QStorageInfo disk(QDir::tempPath());
    const qint64 room = disk.bytesAvailable() - limits.freeSpaceMarginBytes - m_host.reservedBytes();
    if (disk.isValid() && disk.bytesAvailable() >= 0 && size > room) {
        refuse(id, name,
               ZNFPeerError(ZNFPeerError::NoSpace,
                            QStringLiteral("%1 bytes do not fit the %2 bytes free for resources")
                                .arg(size)
                                .arg(qMax<qint64>(0, room))));
        return;
    }
    if (!m_host.wantsResources()) {
        refuse(id, name, receiverCancelled());
        return;
    }
    auto in = std::make_unique<ZNFIncomingResource>();
    in->name = name;
    in->size = size;
    in->progress = std::make_shared<ZNFProgress>(size);
    // The name stays a label: the bytes go to a file of our own choosing.
    in->sink->file.setFileTemplate(
        QDir(QDir::tempPath()).filePath(QStringLiteral("notecrate-resource-XXXXXX")));
    in->sink->file.setAutoRemove(false);
    const bool opened = in->sink->file.open();
    const std::shared_ptr<ZNFProgress> progress = in->progress;
    m_incoming.emplace(id, std::move(in));
    m_host.resourceBegan(name, m_peer, progress);
    if (progress->isCancelled())
        fail(id, receiverCancelled(), true);
    else if (!opened)
        fail(id, ZNFPeerError(ZNFPeerError::FileError, QStringLiteral("cannot create a temporary file")),
             true);
}

void ZNFResourceReceiver::onChunk(const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    if (!reader.ok()) {
        m_connection->fail(protocolError(QStringLiteral("malformed resource chunk")));
        return;
    }
    auto it = m_incoming.find(id);
    if (it == m_incoming.end()) {
        if (id > m_lastId)
            m_connection->fail(protocolError(QStringLiteral("chunk for an unknown resource")));
        return; // late bytes of one that already failed
    }
    ZNFIncomingResource& in = *it->second;
    if (in.progress->isCancelled()) {
        fail(id, receiverCancelled(), true);
        return;
    }
    const qint64 length = payload.size() - 4;
    if (in.received + length > in.size) {
        fail(id,
             ZNFPeerError(ZNFPeerError::SizeMismatch,
                          QStringLiteral("the peer sent more than the %1 bytes it announced").arg(in.size)),
             true);
        return;
    }
    in.received += length;
    in.work->submit([host = &m_host, sink = in.sink, payload, length, link = m_link] {
        if (sink->stop)
            return;
        const char* data = payload.constData() + 4;
        if (sink->error.isEmpty() && sink->file.write(data, length) != length)
            sink->error = QStringLiteral("cannot store the resource: %1").arg(sink->file.errorString());
        sink->sha.addData(data, length);
        sink->written += length;
        host->postStorageProgressed(link);
    });
    in.progress->setCompletedUnitCount(in.received);
    // Reading stops while storing lags, so a fast sender cannot fill our memory.
    if (in.work->pending() >= ZNFPeerLimits::current().pipelineChunks) {
        m_waitingForStorage = true;
        m_connection->setPaused(true);
    }
}

void ZNFResourceReceiver::storageProgressed() {
    if (!m_waitingForStorage)
        return;
    for (const auto& [id, in] : m_incoming)
        if (in->work->pending() >= ZNFPeerLimits::current().pipelineChunks)
            return;
    m_waitingForStorage = false;
    m_connection->resume();
}

void ZNFResourceReceiver::onEnd(const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const QByteArray senderDigest = reader.rest();
    if (!reader.ok() || senderDigest.size() != ZNFPeerFrame::kDigestBytes) {
        m_connection->fail(protocolError(QStringLiteral("malformed resource end")));
        return;
    }
    auto it = m_incoming.find(id);
    if (it == m_incoming.end()) {
        if (id > m_lastId)
            m_connection->fail(protocolError(QStringLiteral("end of an unknown resource")));
        return;
    }
    ZNFIncomingResource& in = *it->second;
    if (in.progress->isCancelled()) {
        fail(id, receiverCancelled(), true);
        return;
    }
    if (in.received != in.size) {
        fail(id,
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
        fail(id,
             ZNFPeerError(ZNFPeerError::FileError, sink.error.isEmpty()
                                                       ? QStringLiteral("the stored resource is incomplete")
                                                       : sink.error),
             true);
        return;
    }
    const QByteArray digest = sink.sha.result();
    if (digest != senderDigest) {
        fail(
            id,
            ZNFPeerError(ZNFPeerError::HashMismatch, QStringLiteral("the resource's SHA-256 does not match")),
            true);
        return;
    }
    std::unique_ptr<ZNFIncomingResource> done = std::move(it->second);
    m_incoming.erase(it);
    QPointer<ZNFPeerConnection> alive(m_connection);
    m_host.resourceFinished(done->name, m_peer, QUrl::fromLocalFile(path), ZNFPeerError());
    QFile::remove(path);
    // Confirmed only after the delegate had the file, so the sender's success means stored. A
    // delegate that did not keep it cancels the progress, and the sender learns so.
    if (!alive || !alive->isOpen())
        return;
    if (done->progress->isCancelled())
        sendResult(alive, id, receiverCancelled(), done->size);
    else
        sendResult(alive, id, ZNFPeerError(), done->size, digest);
}

void ZNFResourceReceiver::onAbort(const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    if (!reader.ok()) {
        m_connection->fail(protocolError(QStringLiteral("malformed resource abort")));
        return;
    }
    fail(id, ZNFPeerError(ZNFPeerError::Cancelled, QStringLiteral("the sender stopped the transfer")), false);
}

void ZNFResourceReceiver::fail(quint32 id, const ZNFPeerError& error, bool tellSender) {
    auto it = m_incoming.find(id);
    if (it == m_incoming.end())
        return;
    std::unique_ptr<ZNFIncomingResource> in = std::move(it->second);
    m_incoming.erase(it);
    in->drop();
    qCWarning(lcPeer()).noquote() << QStringLiteral("Receiving resource %1 failed: %2")
                                         .arg(ZNFResourceName::printable(in->name), error.description());
    if (tellSender)
        sendResult(m_connection, id, error, in->received);
    ZNFResourceReceiverHost& host = m_host;
    const quint64 link = m_link;
    host.resourceFinished(in->name, m_peer, QUrl(), error);
    host.storageProgressed(link);
}

void ZNFResourceReceiver::failAll(const ZNFPeerError& error, ZNFPendingCalls& calls) {
    for (auto& [id, in] : m_incoming) {
        in->drop();
        calls.push_back([host = &m_host, name = in->name, peer = m_peer, error] {
            host->resourceFinished(name, peer, QUrl(), error);
        });
    }
    m_incoming.clear();
}

void ZNFResourceReceiver::discard() {
    for (auto& [id, in] : m_incoming)
        in->drop();
    m_incoming.clear();
}
