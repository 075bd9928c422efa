#pragma once

#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerLayer_p.h"
#include "platform/peer/ZNFProgress.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>

class ZNFPeerConnection;
struct ZNFOutgoingResource;

// One link's outgoing resources. They stream one at a time: a worker reads and hashes a few
// chunks ahead of the socket, which takes them as it drains; each is then held until the
// receiver's result says what it stored. Lives on the link's thread.
class ZNFResourceSender {
public:
    using Completion = std::function<void(const ZNFPeerError& error)>;

    // `wake` is called on a worker once a chunk is ready: it has pump() run on the link's
    // thread, if the link is still there.
    ZNFResourceSender(ZNFPeerConnection* connection, std::function<void()> wake);
    ~ZNFResourceSender();
    ZNFResourceSender(const ZNFResourceSender&) = delete;
    ZNFResourceSender& operator=(const ZNFResourceSender&) = delete;

    // Queues the file behind the others. A name over the limit or a file that cannot be read
    // fails the completion at once.
    void send(const QString& path, const QString& name, const std::shared_ptr<ZNFProgress>& progress,
              const Completion& completion);
    // Hands the socket what is ready, as far as its queue may grow.
    void pump();
    void onResult(const QByteArray& payload);

    bool isBusy() const { return !m_queue.empty() || !m_awaiting.empty(); }
    // The link is gone: every completion is to hear `error`, and nothing is left queued.
    void failAll(const ZNFPeerError& error, ZNFPendingCalls& calls);
    // The session is gone: every completion is to hear `error`; what is queued goes with the
    // sender.
    void release(const ZNFPeerError& error, ZNFPendingCalls& calls) const;

private:
    void readAhead(ZNFOutgoingResource& out);

    ZNFPeerConnection* const m_connection;
    const std::function<void()> m_wake;
    std::deque<std::unique_ptr<ZNFOutgoingResource>> m_queue; // the front one is streaming
    std::map<quint32, std::unique_ptr<ZNFOutgoingResource>> m_awaiting;
    QSet<quint32> m_abandoned; // aborted here: one late result each is still expected
    quint32 m_nextId = 1;
};
