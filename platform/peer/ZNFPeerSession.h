#pragma once

#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerID.h"
#include "platform/peer/ZNFProgress.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QUrl>
#include <QVariantList>
#include <functional>
#include <memory>

class ZNFPeerConnection;
class ZNFPeerSessionDelegate;

// Connections to invited or inviting peers, data and resources over them.
class ZNFPeerSession : public std::enable_shared_from_this<ZNFPeerSession> {
public:
    // What the delegate hears of each peer; the numbers are the platform's.
    enum class State : qint64 { NotConnected = 0, Connecting = 1, Connected = 2 };
    // Encryption preferences: optional and required both mean TLS 1.3 whenever the local peer
    // has an identity; none gives plain frames, which only a peer set the same way accepts.
    enum Encryption : qint64 { EncryptionOptional = 0, EncryptionRequired = 1, EncryptionNone = 2 };
    using Completion = std::function<void(const ZNFPeerError& error)>;

    static std::shared_ptr<ZNFPeerSession> create(const ZNFPeerID& myPeerID);
    // Links are encrypted with the local peer's identity, or with the security identity
    // (ZNFPeerIdentity's two PEMs) when the peer has none, unless the preference is EncryptionNone.
    // A local peer without any identity speaks plain frames.
    static std::shared_ptr<ZNFPeerSession>
    create(const ZNFPeerID& myPeerID, const QVariantList& securityIdentity, qint64 encryptionPreference);
    ~ZNFPeerSession();
    ZNFPeerSession(const ZNFPeerSession&) = delete;
    ZNFPeerSession& operator=(const ZNFPeerSession&) = delete;

    ZNFPeerID myPeerID() const { return m_myPeerID; }
    QVariantList securityIdentity() const { return m_securityIdentity; }
    qint64 encryptionPreference() const { return m_encryptionPreference; }

    // The delegate is held weakly, as the platform's sessions do.
    void setDelegate(const std::weak_ptr<ZNFPeerSessionDelegate>& delegate);
    std::shared_ptr<ZNFPeerSessionDelegate> delegate() const;

    QList<ZNFPeerID> connectedPeers() const;

    // Reliable and in order; false with an error when a peer is not connected or the data is over
    // the frame limit.
    bool sendData(const QByteArray& data, const QList<ZNFPeerID>& peers, ZNFPeerError* error = nullptr);

    // Streams the file; the completion (on the layer thread) reports success only for the peer's
    // confirmation, after the whole file went out, of the size and SHA-256 this side read and sent.
    // The receiver refuses names that ZNFResourceName refuses.
    std::shared_ptr<ZNFProgress> sendResourceAtURL(const QUrl& url, const QString& name,
                                                   const ZNFPeerID& peer, Completion completion);

    // Ends every connection; the session stays usable for new ones.
    void disconnect();
    // Ends the connection to one peer (connecting or connected).
    void cancelConnectPeer(const ZNFPeerID& peer);

    // Connects straight to an advertiser's port and presents an invitation: what a browser
    // does once it knows where a peer is, and what tests use without discovery. `peer` may be
    // null; the peer is then known once it accepts. A null context is sent as none.
    void connectToPeer(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                       const QByteArray& context, double timeoutSeconds);
    // For the advertiser: takes over an accepted invitation's connection. Called on the
    // connection's current thread. The session declines it when it already has a link to a
    // peer of that id (an impostor must not take over a connected peer's transfers) or holds
    // as many links as it may.
    void adoptConnection(ZNFPeerConnection* connection, const ZNFPeerID& peer);
    // For the browser: an invitation that could not even be sent.
    void reportInvitationFailure(const ZNFPeerID& peer);

    // The local peer as this session's links present it: with the security identity when
    // the peer has none of its own, without any when the preference is EncryptionNone.
    static ZNFPeerID linkPeer(const ZNFPeerID& me, const QVariantList& securityIdentity,
                              qint64 encryptionPreference);

    class Core;

private:
    ZNFPeerSession(const ZNFPeerID& myPeerID, const QVariantList& securityIdentity,
                   qint64 encryptionPreference);

    const ZNFPeerID m_myPeerID;
    const QVariantList m_securityIdentity;
    const qint64 m_encryptionPreference;
    Core* m_core;
};

// What a session tells its delegate, always on the session's layer thread.
class ZNFPeerSessionDelegate {
public:
    virtual ~ZNFPeerSessionDelegate() = default;
    virtual void session(const std::shared_ptr<ZNFPeerSession>& session, const ZNFPeerID& peer,
                         ZNFPeerSession::State state) = 0;
    virtual void session(const std::shared_ptr<ZNFPeerSession>& session, const QByteArray& data,
                         const ZNFPeerID& peer) = 0;
    // Cancelling the progress refuses the resource: it is dropped and the sender's completion
    // fails. Resources this layer refuses by itself (a name no file may carry, over the size limit
    // or the free disk space, no delegate) only reach the finished call, with the error.
    virtual void session(const std::shared_ptr<ZNFPeerSession>& session, const QString& resourceName,
                         const ZNFPeerID& peer, const std::shared_ptr<ZNFProgress>& progress) = 0;
    // The file at the URL is temporary and removed when this returns: move it to keep it. A
    // delegate that does not keep it cancels the resource's progress before returning, so that
    // the sender is told the resource was not kept.
    virtual void session(const std::shared_ptr<ZNFPeerSession>& session, const QString& resourceName,
                         const ZNFPeerID& peer, const QUrl& localURL, const ZNFPeerError& error) = 0;
};
