#pragma once

#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerID.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>

class ZNFPeerAdvertiser;
class ZNFPeerSession;

using ZNFDiscoveryInfo = QMap<QString, QString>;
// The reply to one invitation: call it once, from any thread. Accepting needs a session;
// accepting with none declines. A reply that is never called leaves the inviter to time out.
using ZNFPeerInvitationHandler =
    std::function<void(bool accept, const std::shared_ptr<ZNFPeerSession>& session)>;

// Called on the advertiser's layer thread.
class ZNFPeerAdvertiserDelegate {
public:
    virtual ~ZNFPeerAdvertiserDelegate() = default;
    // A null context means the inviter sent none.
    virtual void advertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser, const ZNFPeerID& peer,
                            const QByteArray& context, const ZNFPeerInvitationHandler& invitationHandler) = 0;
    virtual void advertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser, const ZNFPeerError& error) {
        (void)advertiser;
        (void)error;
    }
};

// Makes the local peer visible under "_<serviceType>._tcp" and takes invitations on a TCP port.
class ZNFPeerAdvertiser : public std::enable_shared_from_this<ZNFPeerAdvertiser> {
public:
    static std::shared_ptr<ZNFPeerAdvertiser>
    create(const ZNFPeerID& myPeerID, const ZNFDiscoveryInfo& discoveryInfo, const QString& serviceType);
    ~ZNFPeerAdvertiser();
    ZNFPeerAdvertiser(const ZNFPeerAdvertiser&) = delete;
    ZNFPeerAdvertiser& operator=(const ZNFPeerAdvertiser&) = delete;

    ZNFPeerID myPeerID() const { return m_myPeerID; }
    ZNFDiscoveryInfo discoveryInfo() const { return m_discoveryInfo; }
    QString serviceType() const { return m_serviceType; }

    void setDelegate(const std::weak_ptr<ZNFPeerAdvertiserDelegate>& delegate);
    std::shared_ptr<ZNFPeerAdvertiserDelegate> delegate() const;

    // Listens and registers with the discovery backend before returning, so a failure (no
    // DNS-SD responder, say) is known at once through startError(); the delegate hears of
    // it too, on the layer thread.
    void startAdvertisingPeer();
    void stopAdvertisingPeer();
    bool isAdvertising() const;
    // Null when the last start worked.
    ZNFPeerError startError() const;
    // The TCP port invitations come to while advertising, else 0.
    quint16 port() const;

    class Core;

private:
    ZNFPeerAdvertiser(const ZNFPeerID& myPeerID, const ZNFDiscoveryInfo& discoveryInfo,
                      const QString& serviceType);

    const ZNFPeerID m_myPeerID;
    const ZNFDiscoveryInfo m_discoveryInfo;
    const QString m_serviceType;
    Core* m_core;
};
