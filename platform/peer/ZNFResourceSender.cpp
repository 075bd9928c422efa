#include "platform/peer/ZNFResourceSender_p.h"

#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerErrors_p.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFSha256.h"

#include <QFile>
#include <QMutex>
#include <QtEndian>
#include <atomic>

using namespace ZNFPeerErrors;

namespace {
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
} // namespace

// A resource on its way out.
struct ZNFOutgoingResource {
    ~ZNFOutgoingResource() {
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
    ZNFResourceSender::Completion completion;
};

ZNFResourceSender::ZNFResourceSender(ZNFPeerConnection* connection, std::function<void()> wake)
    : m_connection(connection), m_wake(std::move(wake)) {}

ZNFResourceSender::~ZNFResourceSender() = default;

void ZNFResourceSender::send(const QString& path, const QString& name,
                             const std::shared_ptr<ZNFProgress>& progress, const Completion& completion) {
    auto finish = [&](const ZNFPeerError& error) {
        if (completion)
            completion(error);
    };
    if (name.toUtf8().size() > ZNFPeerLimits::current().maxNameBytes) {
        finish(ZNFPeerError(ZNFPeerError::TooLarge, QStringLiteral("the resource name is too long")));
        return;
    }
    auto out = std::make_unique<ZNFOutgoingResource>();
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
    out->id = m_nextId++;
    out->name = name;
    out->size = file.size();
    out->progress = progress;
    out->progress->setTotalUnitCount(out->size);
    out->completion = completion;
    m_queue.push_back(std::move(out));
    pump();
}

// Keeps the worker reading and hashing a few chunks ahead of the socket.
void ZNFResourceSender::readAhead(ZNFOutgoingResource& out) {
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
        out.work->submit([wake = m_wake, pipe = out.pipe, id = out.id, length, last] {
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
            wake();
        });
    }
}

void ZNFResourceSender::pump() {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    ZNFPeerConnection* connection = m_connection;
    while (connection->isOpen() && !m_queue.empty()) {
        ZNFOutgoingResource& out = *m_queue.front();
        auto fail = [&](const ZNFPeerError& error) {
            if (out.begun) {
                connection->send(ZNFPeerFrame::ResourceAbort, ZNFFrameWriter().u32(out.id).payload());
                m_abandoned.insert(out.id);
            }
            std::unique_ptr<ZNFOutgoingResource> failed = std::move(m_queue.front());
            m_queue.pop_front();
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
        readAhead(out);
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
            readAhead(out);
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
        std::unique_ptr<ZNFOutgoingResource> sent = std::move(m_queue.front());
        m_queue.pop_front();
        const quint32 id = sent->id;
        m_awaiting.emplace(id, std::move(sent));
    }
}

void ZNFResourceSender::onResult(const QByteArray& payload) {
    ZNFFrameReader reader(payload);
    const quint32 id = reader.u32();
    const quint32 code = reader.u32();
    const quint64 size = reader.u64();
    const QByteArray digest = reader.rest();
    if (!reader.ok() || digest.size() != ZNFPeerFrame::kDigestBytes) {
        m_connection->fail(protocolError(QStringLiteral("malformed resource result")));
        return;
    }
    std::unique_ptr<ZNFOutgoingResource> out;
    if (auto it = m_awaiting.find(id); it != m_awaiting.end()) {
        out = std::move(it->second);
        m_awaiting.erase(it);
    } else if (!m_queue.empty() && m_queue.front()->id == id && m_queue.front()->begun) {
        // Only a refusal may come before our end of the resource: a confirmation of bytes we
        // have not all sent cannot be true.
        if (code == 0) {
            m_connection->fail(protocolError(QStringLiteral("a result before the end of the resource")));
            return;
        }
        out = std::move(m_queue.front());
        m_queue.pop_front();
    } else if (m_abandoned.remove(id)) {
        return; // the receiver's answer crossed our abort
    } else {
        m_connection->fail(protocolError(QStringLiteral("result for an unknown resource")));
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
    pump();
}

void ZNFResourceSender::failAll(const ZNFPeerError& error, ZNFPendingCalls& calls) {
    auto fail = [&calls, &error](std::unique_ptr<ZNFOutgoingResource>& out) {
        if (out->completion)
            calls.push_back([c = std::move(out->completion), error] { c(error); });
    };
    for (auto& out : m_queue)
        fail(out);
    for (auto& [id, out] : m_awaiting)
        fail(out);
    m_queue.clear();
    m_awaiting.clear();
}

void ZNFResourceSender::release(const ZNFPeerError& error, ZNFPendingCalls& calls) const {
    auto fail = [&calls, &error](const std::unique_ptr<ZNFOutgoingResource>& out) {
        if (out->completion)
            calls.push_back([c = out->completion, error] { c(error); });
    };
    for (const auto& out : m_queue)
        fail(out);
    for (const auto& [id, out] : m_awaiting)
        fail(out);
}
