#pragma once

#include "platform/peer/ZNFPeerHandle_p.h"
#include "platform/peer/ZNFPeerSession.h"
#include "platform/peer/ZNFResourceReceiver_p.h"
#include "platform/peer/ZNFResourceSender_p.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

// One connection of a session, from the invitation on.
struct ZNFPeerLink {
    ZNFPeerLink(quint64 key, ZNFPeerConnection* connection, const ZNFPeerID& peer,
                ZNFResourceReceiverHost& host, std::function<void()> wakeSender)
        : key(key), connection(connection), peer(peer), sender(connection, std::move(wakeSender)),
          receiver(host, key, connection, this->peer) {}
    ZNFPeerLink(const ZNFPeerLink&) = delete;
    ZNFPeerLink& operator=(const ZNFPeerLink&) = delete;

    bool hasTransfer() const { return sender.isBusy() || receiver.isBusy(); }

    const quint64 key; // how workers find the link again, once it may be gone
    ZNFPeerConnection* const connection;
    ZNFPeerID peer;
    ZNFPeerSession::State state = ZNFPeerSession::State::Connecting;
    // The inviter's side of the code exchange: our nonce, and the code once it is revealed.
    QByteArray nonce;
    QString code;
    ZNFResourceSender sender;
    ZNFResourceReceiver receiver;
};

// The session's links and what they carry, on the session's layer thread. The links and the
// frames they route are in ZNFPeerSession.cpp, the invitation and code exchange in
// ZNFPeerHandshake.cpp; each link's resources go through its sender and receiver.
class ZNFPeerSession::Core : public ZNFPeerCore<ZNFPeerSession, ZNFPeerSessionDelegate>,
                             public ZNFResourceReceiverHost {
public:
    explicit Core(const ZNFPeerID& me) : m_me(me) {}
    ~Core() override;

    // Connected peers, under the mutex: what the handle's callers read on their threads.
    QList<ZNFPeerID> connected;

    void connectTo(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                   const QByteArray& context, int timeoutMs);
    void adopt(ZNFPeerConnection* connection, const ZNFPeerID& peer);
    void invitationFailed(const ZNFPeerID& peer);
    void sendData(const QByteArray& data, const QList<ZNFPeerID>& peers);
    void sendResource(const QString& path, const QString& name, const ZNFPeerID& peer,
                      const std::shared_ptr<ZNFProgress>& progress, const Completion& completion);
    void disconnectAll();
    void disconnectPeer(const ZNFPeerID& peer);

    // ZNFResourceReceiverHost
    bool wantsResources() const override { return hasDelegate(); }
    qint64 reservedBytes() const override;
    void resourceBegan(const QString& name, const ZNFPeerID& peer,
                       const std::shared_ptr<ZNFProgress>& progress) override;
    void resourceFinished(const QString& name, const ZNFPeerID& peer, const QUrl& localURL,
                          const ZNFPeerError& error) override;
    void storageProgressed(quint64 link) override;
    void postStorageProgressed(quint64 link) override;

private:
    void notifyState(const ZNFPeerID& peer, State state);
    static void run(ZNFPendingCalls& calls) {
        for (auto& call : calls)
            call();
    }

    ZNFPeerLink* newLink(ZNFPeerConnection* connection, const ZNFPeerID& peer);
    ZNFPeerLink* linkForPeer(const ZNFPeerID& peer) const;
    ZNFPeerLink* linkForKey(quint64 key) const;
    bool hasLinkTo(const ZNFPeerID& peer, const ZNFPeerLink* except = nullptr) const;
    bool atLinkLimit() const;
    void becomeConnected(ZNFPeerLink* link);
    void closeLink(ZNFPeerLink* link, const ZNFPeerError& error, bool graceful);

    void onFrame(ZNFPeerLink* link, quint8 type, const QByteArray& payload);
    void onInvitationAnswer(ZNFPeerLink* link, quint8 type, const QByteArray& payload);

    const ZNFPeerID m_me;
    std::vector<std::unique_ptr<ZNFPeerLink>> m_links;
    quint64 m_nextLinkKey = 1;
};
