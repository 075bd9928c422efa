#pragma once

#include "peer/support/PeerTestSupport.h"

// A phone on the other end of a link, made of the bare peer layer: its own session and a browser
// that looks for `serviceType` from the start, recording what happens. Its key is the guest's
// fixture identity, so the side under test sees another device.
struct Guest {
    explicit Guest(const QString& serviceType) : browser(ZNFPeerBrowser::create(id, serviceType)) {
        session->setDelegate(events);
        browser->setDelegate(browsing);
        browser->startBrowsingForPeers();
    }
    ~Guest() {
        browser->stopBrowsingForPeers();
        session->disconnect();
    }
    bool sees(const ZNFPeerID& peer) const {
        return browsing->found().contains(peer) && !browsing->lost().contains(peer);
    }
    ZNFPeerID id{QStringLiteral("Phone"), fixtureIdentity(1)};
    std::shared_ptr<RecordingSession> events = std::make_shared<RecordingSession>();
    std::shared_ptr<RecordingBrowser> browsing = std::make_shared<RecordingBrowser>();
    std::shared_ptr<ZNFPeerSession> session = ZNFPeerSession::create(id);
    std::shared_ptr<ZNFPeerBrowser> browser;
};
