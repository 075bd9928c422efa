#pragma once

#include "platform/peer/ZNFPeerAdvertiser.h"
#include "platform/peer/ZNFPeerError.h"
#include "platform/peer/ZNFPeerID.h"

#include <QByteArray>
#include <QString>
#include <memory>

class ZNFPeerBrowser;
class ZNFPeerSession;

// Called on the browser's layer thread.
class ZNFPeerBrowserDelegate {
public:
    virtual ~ZNFPeerBrowserDelegate() = default;
    virtual void browser(const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerID& peer,
                         const ZNFDiscoveryInfo& info) = 0;
    virtual void browser(const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerID& peer) = 0;
    virtual void browser(const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerError& error) {
        (void)browser;
        (void)error;
    }
};

// Looks for peers advertising "_<serviceType>._tcp" and invites them into a session.
class ZNFPeerBrowser : public std::enable_shared_from_this<ZNFPeerBrowser> {
public:
    static std::shared_ptr<ZNFPeerBrowser> create(const ZNFPeerID& myPeerID, const QString& serviceType);
    ~ZNFPeerBrowser();
    ZNFPeerBrowser(const ZNFPeerBrowser&) = delete;
    ZNFPeerBrowser& operator=(const ZNFPeerBrowser&) = delete;

    ZNFPeerID myPeerID() const { return m_myPeerID; }
    QString serviceType() const { return m_serviceType; }

    void setDelegate(const std::weak_ptr<ZNFPeerBrowserDelegate>& delegate);
    std::shared_ptr<ZNFPeerBrowserDelegate> delegate() const;

    // As for the advertiser: a failure to start is known through startError() on return.
    void startBrowsingForPeers();
    void stopBrowsingForPeers();
    bool isBrowsing() const;
    // Whether the only announcement found so far carries this peer's own id: another process
    // with the same identity (two copies of one config folder), which is never invited.
    bool hasFoundOnlyItself() const;
    ZNFPeerError startError() const;

    // The session reports the outcome as state changes for the peer. A timeout of 0 or less means
    // 30 seconds.
    void invitePeer(const ZNFPeerID& peer, const std::shared_ptr<ZNFPeerSession>& session,
                    const QByteArray& context, double timeout);

    class Core;

private:
    ZNFPeerBrowser(const ZNFPeerID& myPeerID, const QString& serviceType);

    const ZNFPeerID m_myPeerID;
    const QString m_serviceType;
    Core* m_core;
};
