#include "platform/peer/ZNFPeerBrowser.h"

#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerHandle_p.h"
#include "platform/peer/ZNFPeerLayer_p.h"
#include "platform/peer/ZNFPeerLog.h"
#include "platform/peer/ZNFPeerSession.h"

#include <QHash>
#include <QHostAddress>
#include <QMutex>

namespace {
struct Found {
    ZNFPeerID peer;
    QHostAddress address;
    quint16 port = 0;
};
} // namespace

class ZNFPeerBrowser::Core : public ZNFDiscoveryCore<ZNFPeerBrowser, ZNFPeerBrowserDelegate> {
public:
    explicit Core(const ZNFPeerID& me) : m_me(me) {}

    // Where each peer was last seen; read by invitePeer on the caller's thread.
    QHash<QString, Found> found;
    // Whether our own fingerprint was announced (by this device's advertiser, or by another
    // process using the same identity), and whether anyone else was.
    bool ownSeen = false;
    bool othersSeen = false;

    void attach(ZNFDiscoveryBrowser* discovery) {
        m_discovery = discovery;
        m_discovery->setParent(this);
        connect(m_discovery, &ZNFDiscoveryBrowser::found, this, &Core::peerFound);
        connect(m_discovery, &ZNFDiscoveryBrowser::lost, this, &Core::peerLost);
        connect(m_discovery, &ZNFDiscoveryBrowser::failed, this, &Core::reportStartError);
        m_discovery->attach();
    }

    void detach() {
        delete m_discovery;
        m_discovery = nullptr;
    }

    void reportStartError(const ZNFPeerError& error) override {
        qCWarning(lcPeer()).noquote()
            << QStringLiteral("Browsing did not start: %1").arg(error.description());
        notify([&](ZNFPeerBrowserDelegate& d, const std::shared_ptr<ZNFPeerBrowser>& b) {
            d.browser(b, error);
        });
    }

private:
    void peerFound(const QString& instance, const QHostAddress& address, quint16 port,
                   const QByteArray& txt) {
        ZNFDiscoveryInfo info = ZNFPeerDiscovery::decodeTXT(txt);
        // An encrypting peer is known by its key's fingerprint, which the link then checks.
        const QString fingerprint = info.take(ZNFPeerDiscovery_fingerprintKey);
        const QString announcedId = info.take(ZNFPeerDiscovery_peerIdKey);
        const QString id = !fingerprint.isEmpty()   ? fingerprint
                           : !announcedId.isEmpty() ? announcedId
                                                    : instance;
        if (id == m_me.uniqueID()) {
            // Never invited: a link to oneself cannot verify anything.
            QMutexLocker lock(&mutex);
            ownSeen = true;
            return;
        }
        const ZNFPeerID peer(info.take(ZNFPeerDiscovery_displayNameKey), id);
        {
            QMutexLocker lock(&mutex);
            othersSeen = true;
            // A device that restarted announces itself anew before its old record is gone:
            // the newest announcement is where it is.
            for (auto it = found.begin(); it != found.end();)
                it = it.value().peer == peer && it.key() != instance ? found.erase(it) : std::next(it);
            found.insert(instance, Found{peer, address, port});
        }
        notify([&](ZNFPeerBrowserDelegate& d, const std::shared_ptr<ZNFPeerBrowser>& b) {
            d.browser(b, peer, info);
        });
    }

    void peerLost(const QString& instance) {
        Found gone;
        {
            QMutexLocker lock(&mutex);
            if (!found.contains(instance))
                return;
            gone = found.take(instance);
        }
        notify([&](ZNFPeerBrowserDelegate& d, const std::shared_ptr<ZNFPeerBrowser>& b) {
            d.browser(b, gone.peer);
        });
    }

    const ZNFPeerID m_me;
    ZNFDiscoveryBrowser* m_discovery = nullptr;
};

ZNFPeerBrowser::ZNFPeerBrowser(const ZNFPeerID& myPeerID, const QString& serviceType)
    : m_myPeerID(myPeerID), m_serviceType(serviceType), m_core(new Core(myPeerID)) {}

std::shared_ptr<ZNFPeerBrowser> ZNFPeerBrowser::create(const ZNFPeerID& myPeerID,
                                                       const QString& serviceType) {
    auto* browser = new ZNFPeerBrowser(myPeerID, serviceType);
    return browser->m_core->bind(browser);
}

ZNFPeerBrowser::~ZNFPeerBrowser() {
    m_core->release();
}

void ZNFPeerBrowser::setDelegate(const std::weak_ptr<ZNFPeerBrowserDelegate>& delegate) {
    m_core->setDelegate(delegate);
}

std::shared_ptr<ZNFPeerBrowserDelegate> ZNFPeerBrowser::delegate() const {
    return m_core->delegate();
}

void ZNFPeerBrowser::startBrowsingForPeers() {
    Core* core = m_core;
    if (core->isRunning() || core->refuseInvalidServiceType(m_serviceType))
        return;
    std::unique_ptr<ZNFDiscoveryBrowser> discovery = ZNFDiscoveryBrowser::create();
    if (const ZNFPeerError error = discovery->start(m_serviceType); !error.isNull()) {
        core->refuseStart(error);
        return;
    }
    core->markStarted([] {});
    discovery->moveToThread(core->thread());
    // Held by the posted call until it runs: a browser destroyed first drops the call, and the
    // discovery goes with it instead of leaking.
    auto pending = std::make_shared<std::unique_ptr<ZNFDiscoveryBrowser>>(std::move(discovery));
    ZNFPeerLayer::post(core, [core, pending] { core->attach(pending->release()); });
}

void ZNFPeerBrowser::stopBrowsingForPeers() {
    Core* core = m_core;
    if (core->markStopped([] {}))
        ZNFPeerLayer::post(core, [core] { core->detach(); });
}

bool ZNFPeerBrowser::hasFoundOnlyItself() const {
    QMutexLocker lock(&m_core->mutex);
    return m_core->ownSeen && !m_core->othersSeen;
}

bool ZNFPeerBrowser::isBrowsing() const {
    return m_core->isRunning();
}

ZNFPeerError ZNFPeerBrowser::startError() const {
    return m_core->startError();
}

void ZNFPeerBrowser::invitePeer(const ZNFPeerID& peer, const std::shared_ptr<ZNFPeerSession>& session,
                                const QByteArray& context, double timeout) {
    if (!session || peer.isNull())
        return;
    Found where;
    {
        QMutexLocker lock(&m_core->mutex);
        for (const Found& f : std::as_const(m_core->found))
            if (f.peer == peer)
                where = f;
    }
    if (where.port == 0) {
        qCWarning(lcPeer()).noquote()
            << QStringLiteral("Cannot invite %1: it was not found by this browser").arg(peer.description());
        session->reportInvitationFailure(peer);
        return;
    }
    session->connectToPeer(where.peer, where.address, where.port, context, timeout);
}
