#pragma once

#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerID.h"
#include "platform/peer/ZNFPeerLayer_p.h"
#include "platform/peer/ZNFProgress.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <map>
#include <memory>

class ZNFPeerConnection;
struct ZNFIncomingResource;

// What a receiver asks of the session it works for.
class ZNFResourceReceiverHost {
public:
    // Whether anyone would be told of a resource; without a delegate each is refused.
    virtual bool wantsResources() const = 0;
    // Announced bytes not yet received, over all the session's links: they count against the
    // free disk space.
    virtual qint64 reservedBytes() const = 0;
    virtual void resourceBegan(const QString& name, const ZNFPeerID& peer,
                               const std::shared_ptr<ZNFProgress>& progress) = 0;
    virtual void resourceFinished(const QString& name, const ZNFPeerID& peer, const QUrl& localURL,
                                  const ZNFPeerError& error) = 0;
    // Has storageProgressed() run on the receiving link, if it is still there: at once, or
    // (from a worker) later on the link's thread.
    virtual void storageProgressed(quint64 link) = 0;
    virtual void postStorageProgressed(quint64 link) = 0;

protected:
    ~ZNFResourceReceiverHost() = default;
};

// One link's incoming resources: each is stored and hashed on a worker into a file of the
// layer's own naming, handed to the delegate once whole and matching, and answered with a
// result. Lives on the link's thread. After a delegate call the link (and this receiver) may be
// gone: nothing of it is touched then.
class ZNFResourceReceiver {
public:
    // `peer` is the link's, which a handshake may still fill in.
    ZNFResourceReceiver(ZNFResourceReceiverHost& host, quint64 link, ZNFPeerConnection* connection,
                        const ZNFPeerID& peer);
    ~ZNFResourceReceiver();
    ZNFResourceReceiver(const ZNFResourceReceiver&) = delete;
    ZNFResourceReceiver& operator=(const ZNFResourceReceiver&) = delete;

    void onBegin(const QByteArray& payload);
    void onChunk(const QByteArray& payload);
    void onEnd(const QByteArray& payload);
    void onAbort(const QByteArray& payload);
    // Reading from the link resumes once no resource has too many chunks waiting to be stored.
    void storageProgressed();

    bool isBusy() const { return !m_incoming.empty(); }
    qint64 reservedBytes() const;
    // The link is gone: partial files are removed, and the delegate is to hear `error` for each.
    void failAll(const ZNFPeerError& error, ZNFPendingCalls& calls);
    // The session is gone: partial files are removed, and nobody is told.
    void discard();

    // The frame that tells the sender what became of a resource: the stored size and SHA-256,
    // or why it was not kept (then with no digest).
    static void sendResult(ZNFPeerConnection* connection, quint32 id, const ZNFPeerError& error,
                           qint64 storedSize, const QByteArray& digest = {});

private:
    void refuse(quint32 id, const QString& name, const ZNFPeerError& error);
    void fail(quint32 id, const ZNFPeerError& error, bool tellSender);

    ZNFResourceReceiverHost& m_host;
    const quint64 m_link;
    ZNFPeerConnection* const m_connection;
    const ZNFPeerID& m_peer;
    std::map<quint32, std::unique_ptr<ZNFIncomingResource>> m_incoming;
    quint32 m_lastId = 0; // transfers are numbered upwards; anything at or below is over
    bool m_waitingForStorage = false;
};
