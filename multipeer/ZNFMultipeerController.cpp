#include "multipeer/ZNFMultipeerController.h"

#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLog.h"

#include <QtGlobal>
#include <cstdio>

namespace {
constexpr int kMaxServiceTypeLength = 15;

template <typename T> quint64 keyOf(const std::shared_ptr<T>& object) {
    // The object's address identifies the instance for as long as it lives.
    return quint64(reinterpret_cast<quintptr>(object.get()));
}
} // namespace

ZNFMultipeerController::ZNFMultipeerController() : ZNFMultipeerController(std::nullopt, std::nullopt) {}

ZNFMultipeerController::ZNFMultipeerController(const std::optional<QString>& serviceType,
                                               const std::optional<QString>& displayName) {
    QString type;
    if (serviceType) {
        type = *serviceType;
    } else {
        qCWarning(lcPeer()).noquote()
            << QStringLiteral(
                   "%1: No service type specified. Consider specifying a service type for your application.")
                   .arg(QStringLiteral("ZNFMultipeerController"));
        type = ZNFMultipeerControllerServiceType;
    }
    const QString name = displayName ? *displayName : ZNFPeerID::localHostName();
    // A longer type cannot be announced; it is the caller's mistake, not a runtime condition.
    if (type.size() > kMaxServiceTypeLength) {
        qFatal("ZNFMultipeerController: Service type must be 15 characters or less.");
    }
    // Links are encrypted by default, with this installation's identity. Callers that must
    // tell the user about a damaged one check ZNFPeerIdentity::device() first; here a key that
    // lasts as long as the controller stands in, and nothing on disk is replaced.
    QString error;
    auto identity = ZNFPeerIdentity::device(&error);
    if (!identity) {
        qCWarning(lcPeer()).noquote() << QStringLiteral("Using a temporary identity: %1").arg(error);
        identity = std::make_shared<const ZNFPeerIdentity>(ZNFPeerIdentity::generate(name));
    }
    m_peerId = ZNFPeerID(name, identity);
    m_serviceType = type;
}

ZNFPeerID ZNFMultipeerController::linkPeer() const {
    QMutexLocker lock(&m_mutex);
    return ZNFPeerSession::linkPeer(m_peerId, m_securityIdentity.value_or(QVariantList()),
                                    m_encryptionPreference);
}

ZNFMultipeerController::~ZNFMultipeerController() {
    // Advertisers and browsers stop with the controller; a session someone else still holds
    // keeps its connections.
    for (const auto& advertiser : std::as_const(m_advertisers))
        advertiser->stopAdvertisingPeer();
    for (const auto& browser : std::as_const(m_browsers))
        browser->stopBrowsingForPeers();
}

std::optional<QVariantList> ZNFMultipeerController::securityIdentity() const {
    QMutexLocker lock(&m_mutex);
    return m_securityIdentity;
}

void ZNFMultipeerController::setSecurityIdentity(const std::optional<QVariantList>& identity) {
    QMutexLocker lock(&m_mutex);
    m_securityIdentity = identity;
    // The peer is who the identity says; a list that is no identity leaves it as it was.
    const ZNFPeerIdentity chosen = ZNFPeerIdentity::fromSecurityIdentity(identity.value_or(QVariantList()));
    if (!chosen.isNull())
        m_peerId = ZNFPeerID(m_peerId.displayName(), std::make_shared<const ZNFPeerIdentity>(chosen));
}

qint64 ZNFMultipeerController::encryptionPreference() const {
    QMutexLocker lock(&m_mutex);
    return m_encryptionPreference;
}

void ZNFMultipeerController::setEncryptionPreference(qint64 preference) {
    QMutexLocker lock(&m_mutex);
    m_encryptionPreference = preference;
}

std::shared_ptr<ZNFPeerSession> ZNFMultipeerController::session() {
    QMutexLocker lock(&m_mutex);
    if (!m_session) {
        if (m_securityIdentity || m_encryptionPreference != 0)
            m_session = ZNFPeerSession::create(m_peerId, m_securityIdentity.value_or(QVariantList()),
                                               m_encryptionPreference);
        else
            m_session = ZNFPeerSession::create(m_peerId);
        m_session->setDelegate(std::weak_ptr<ZNFPeerSessionDelegate>(weak_from_this()));
    }
    return m_session;
}

QList<ZNFPeerID> ZNFMultipeerController::peers() const {
    QMutexLocker lock(&m_mutex);
    return m_connectedPeers;
}

void ZNFMultipeerController::disconnect() {
    session()->disconnect();
    removeAllBrowsers();
    removeAllAdvertisers();
}

std::shared_ptr<ZNFPeerAdvertiser>
ZNFMultipeerController::startAdvertisingWithInfo(const std::optional<ZNFDiscoveryInfo>& info,
                                                 ZNFMultipeerInvitationHandler handler) {
    if (!handler)
        return nullptr;
    auto advertiser = ZNFPeerAdvertiser::create(linkPeer(), info.value_or(ZNFDiscoveryInfo()), m_serviceType);
    advertiser->setDelegate(std::weak_ptr<ZNFPeerAdvertiserDelegate>(weak_from_this()));
    {
        QMutexLocker lock(&m_mutex);
        m_advertisers.insert(keyForAdvertiser(advertiser), advertiser);
        m_advertisingHandlers.insert(keyForAdvertiser(advertiser), std::move(handler));
    }
    advertiser->startAdvertisingPeer();
    return advertiser;
}

void ZNFMultipeerController::removeAdvertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser) {
    if (!advertiser)
        return;
    advertiser->stopAdvertisingPeer();
    QMutexLocker lock(&m_mutex);
    m_advertisers.remove(keyForAdvertiser(advertiser));
    m_advertisingHandlers.remove(keyForAdvertiser(advertiser));
}

void ZNFMultipeerController::removeAllAdvertisers() {
    for (const auto& advertiser : allAdvertisers())
        removeAdvertiser(advertiser);
}

QList<std::shared_ptr<ZNFPeerAdvertiser>> ZNFMultipeerController::allAdvertisers() const {
    QMutexLocker lock(&m_mutex);
    return m_advertisers.values();
}

std::shared_ptr<ZNFPeerBrowser> ZNFMultipeerController::startBrowsing(ZNFMultipeerFoundPeerHandler handler) {
    if (!handler)
        return nullptr;
    auto browser = ZNFPeerBrowser::create(linkPeer(), m_serviceType);
    browser->setDelegate(std::weak_ptr<ZNFPeerBrowserDelegate>(weak_from_this()));
    {
        QMutexLocker lock(&m_mutex);
        m_browsers.insert(keyForBrowser(browser), browser);
        m_browsingHandlers.insert(keyForBrowser(browser), std::move(handler));
    }
    browser->startBrowsingForPeers();
    return browser;
}

void ZNFMultipeerController::removeBrowser(const std::shared_ptr<ZNFPeerBrowser>& browser) {
    if (!browser)
        return;
    browser->stopBrowsingForPeers();
    QMutexLocker lock(&m_mutex);
    m_browsers.remove(keyForBrowser(browser));
    m_browsingHandlers.remove(keyForBrowser(browser));
}

void ZNFMultipeerController::removeAllBrowsers() {
    for (const auto& browser : allBrowsers())
        removeBrowser(browser);
    QMutexLocker lock(&m_mutex);
    m_browsers.clear();
    m_browsingHandlers.clear();
}

QList<std::shared_ptr<ZNFPeerBrowser>> ZNFMultipeerController::allBrowsers() const {
    QMutexLocker lock(&m_mutex);
    return m_browsers.values();
}

void ZNFMultipeerController::invitePeer(const ZNFPeerID& peer, const std::shared_ptr<ZNFPeerBrowser>& browser,
                                        const QByteArray& context, double timeout,
                                        ZNFMultipeerStateHandler completion) {
    if (!completion)
        return;
    {
        QMutexLocker lock(&m_mutex);
        m_sessionCompletions.insert(peer, std::move(completion));
    }
    if (browser)
        browser->invitePeer(peer, session(), context, timeout);
}

void ZNFMultipeerController::registerHandler(ZNFMultipeerStateHandler handler, const ZNFPeerID& peer,
                                             const std::shared_ptr<ZNFPeerSession>&) {
    if (!handler || peer.isNull())
        return;
    QMutexLocker lock(&m_mutex);
    m_sessionCompletions.insert(peer, std::move(handler));
}

void ZNFMultipeerController::registerDataHandler(ZNFMultipeerDataHandler handler,
                                                 const std::shared_ptr<ZNFPeerSession>& session) {
    if (!handler || !session)
        return;
    QMutexLocker lock(&m_mutex);
    m_dataCompletions.insert(keyForSession(session), std::move(handler));
}

void ZNFMultipeerController::registerResourceHandlerForSession(const std::shared_ptr<ZNFPeerSession>& session,
                                                               ZNFMultipeerResourceBeganHandler began,
                                                               ZNFMultipeerResourceFinishedHandler finished) {
    if (!session)
        return;
    QMutexLocker lock(&m_mutex);
    if (began)
        m_resourceBeganCompletions.insert(keyForSession(session), std::move(began));
    if (finished)
        m_resourceFinishedCompletions.insert(keyForSession(session), std::move(finished));
}

quint64 ZNFMultipeerController::keyForAdvertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser) const {
    return keyOf(advertiser);
}

quint64 ZNFMultipeerController::keyForBrowser(const std::shared_ptr<ZNFPeerBrowser>& browser) const {
    return keyOf(browser);
}

quint64 ZNFMultipeerController::keyForSession(const std::shared_ptr<ZNFPeerSession>& session) const {
    return keyOf(session);
}

// --- the layer's callbacks, on its threads ---

void ZNFMultipeerController::advertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser,
                                        const ZNFPeerID& peer, const QByteArray& context,
                                        const ZNFPeerInvitationHandler& invitationHandler) {
    ZNFMultipeerInvitationHandler handler;
    {
        QMutexLocker lock(&m_mutex);
        handler = m_advertisingHandlers.value(keyForAdvertiser(advertiser));
    }
    // With no handler the reply is dropped unanswered: the inviter times out.
    if (handler)
        handler(advertiser, peer, context, invitationHandler);
}

void ZNFMultipeerController::browser(const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerID& peer,
                                     const ZNFDiscoveryInfo& info) {
    ZNFMultipeerFoundPeerHandler handler;
    {
        QMutexLocker lock(&m_mutex);
        handler = m_browsingHandlers.value(keyForBrowser(browser));
    }
    if (handler)
        handler(browser, peer, info);
}

void ZNFMultipeerController::browser(const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer) {
    QMutexLocker lock(&m_mutex);
    m_connectedPeers.removeAll(peer);
}

void ZNFMultipeerController::session(const std::shared_ptr<ZNFPeerSession>& session, const ZNFPeerID& peer,
                                     ZNFPeerSession::State state) {
    ZNFMultipeerStateHandler handler;
    {
        QMutexLocker lock(&m_mutex);
        if (state == ZNFPeerSession::State::Connected)
            m_connectedPeers.append(peer);
        else
            m_connectedPeers.removeAll(peer);
        handler = m_sessionCompletions.value(peer);
    }
    if (handler)
        handler(session, peer, state);
}

void ZNFMultipeerController::session(const std::shared_ptr<ZNFPeerSession>& session, const QByteArray& data,
                                     const ZNFPeerID& peer) {
    ZNFMultipeerDataHandler handler;
    {
        QMutexLocker lock(&m_mutex);
        handler = m_dataCompletions.value(keyForSession(session));
    }
    if (handler)
        handler(data, peer);
}

void ZNFMultipeerController::session(const std::shared_ptr<ZNFPeerSession>& session,
                                     const QString& resourceName, const ZNFPeerID& peer,
                                     const std::shared_ptr<ZNFProgress>& progress) {
    ZNFMultipeerResourceBeganHandler handler;
    bool wanted;
    {
        QMutexLocker lock(&m_mutex);
        handler = m_resourceBeganCompletions.value(keyForSession(session));
        wanted = handler || m_resourceFinishedCompletions.contains(keyForSession(session));
    }
    // Nobody here asked for resources: the peer hears at once that this one is refused,
    // before it can make us store anything.
    if (!wanted) {
        progress->cancel();
        return;
    }
    if (handler)
        handler(session, resourceName, peer, progress);
}

void ZNFMultipeerController::session(const std::shared_ptr<ZNFPeerSession>& session,
                                     const QString& resourceName, const ZNFPeerID& peer, const QUrl& localURL,
                                     const ZNFPeerError& error) {
    ZNFMultipeerResourceFinishedHandler handler;
    {
        QMutexLocker lock(&m_mutex);
        handler = m_resourceFinishedCompletions.value(keyForSession(session));
    }
    if (handler)
        handler(session, resourceName, peer, localURL, error);
}
