#pragma once

#include "platform/peer/ZNFPeerAdvertiser.h"
#include "platform/peer/ZNFPeerBrowser.h"
#include "platform/peer/ZNFPeerSession.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QUrl>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>

// The default service type, used when none is given.
inline constexpr QLatin1StringView ZNFMultipeerControllerServiceType{"znf-svc"};
// The discovery info key the application fills with the computer's name.
inline constexpr QLatin1StringView ZNFMultipeerControllerDiscoveryKey_host{"host"};

// (advertiser, inviting peer, context or null, reply taking (accept, session))
using ZNFMultipeerInvitationHandler =
    std::function<void(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser, const ZNFPeerID& peer,
                       const QByteArray& context, const ZNFPeerInvitationHandler& reply)>;
// (browser, found peer, discovery info)
using ZNFMultipeerFoundPeerHandler = std::function<void(const std::shared_ptr<ZNFPeerBrowser>& browser,
                                                        const ZNFPeerID& peer, const ZNFDiscoveryInfo& info)>;
// (session, peer, new state)
using ZNFMultipeerStateHandler = std::function<void(const std::shared_ptr<ZNFPeerSession>& session,
                                                    const ZNFPeerID& peer, ZNFPeerSession::State state)>;
// (data, sending peer)
using ZNFMultipeerDataHandler = std::function<void(const QByteArray& data, const ZNFPeerID& peer)>;
// (session, resource name, sending peer, progress)
using ZNFMultipeerResourceBeganHandler =
    std::function<void(const std::shared_ptr<ZNFPeerSession>& session, const QString& name,
                       const ZNFPeerID& peer, const std::shared_ptr<ZNFProgress>& progress)>;
// (session, resource name, sending peer, local file URL, error -- null on success)
using ZNFMultipeerResourceFinishedHandler =
    std::function<void(const std::shared_ptr<ZNFPeerSession>& session, const QString& name,
                       const ZNFPeerID& peer, const QUrl& localURL, const ZNFPeerError& error)>;

// Owns the local peer, its session, advertisers and browsers, and turns the peer layer's
// callbacks into the handlers registered here. Handlers run on the layer's threads.
//
// Own it through std::make_shared: the layer holds its delegate weakly.
class ZNFMultipeerController : public std::enable_shared_from_this<ZNFMultipeerController>,
                               public ZNFPeerSessionDelegate,
                               public ZNFPeerAdvertiserDelegate,
                               public ZNFPeerBrowserDelegate {
public:
    ZNFMultipeerController();
    // No service type means ZNFMultipeerControllerServiceType (and a log line), no display name the
    // computer's name. A service type over 15 characters is a programming error and stops the
    // program.
    ZNFMultipeerController(const std::optional<QString>& serviceType,
                           const std::optional<QString>& displayName);
    ~ZNFMultipeerController() override;

    QString serviceType() const { return m_serviceType; }
    // The local peer: its unique id is its identity's fingerprint (the device identity unless
    // securityIdentity names another).
    ZNFPeerID peerId() const {
        QMutexLocker lock(&m_mutex);
        return m_peerId;
    }
    std::optional<QVariantList> securityIdentity() const;
    void setSecurityIdentity(const std::optional<QVariantList>& identity);
    qint64 encryptionPreference() const;
    void setEncryptionPreference(qint64 preference);

    // Made on first use, with the identity and encryption preference when either is set.
    std::shared_ptr<ZNFPeerSession> session();
    // A copy of the connected peers.
    QList<ZNFPeerID> peers() const;
    // Ends the session's connections and removes every browser and advertiser; handlers,
    // the connected list and the session stay.
    void disconnect();

    std::shared_ptr<ZNFPeerAdvertiser> startAdvertisingWithInfo(const std::optional<ZNFDiscoveryInfo>& info,
                                                                ZNFMultipeerInvitationHandler handler);
    void removeAdvertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser);
    void removeAllAdvertisers();
    QList<std::shared_ptr<ZNFPeerAdvertiser>> allAdvertisers() const;

    std::shared_ptr<ZNFPeerBrowser> startBrowsing(ZNFMultipeerFoundPeerHandler handler);
    void removeBrowser(const std::shared_ptr<ZNFPeerBrowser>& browser);
    void removeAllBrowsers();
    QList<std::shared_ptr<ZNFPeerBrowser>> allBrowsers() const;

    // Nothing is sent without a completion.
    void invitePeer(const ZNFPeerID& peer, const std::shared_ptr<ZNFPeerBrowser>& browser,
                    const QByteArray& context, double timeout, ZNFMultipeerStateHandler completion);
    // The session argument is not used.
    void registerHandler(ZNFMultipeerStateHandler handler, const ZNFPeerID& peer,
                         const std::shared_ptr<ZNFPeerSession>& session);
    void registerDataHandler(ZNFMultipeerDataHandler handler, const std::shared_ptr<ZNFPeerSession>& session);
    void registerResourceHandlerForSession(const std::shared_ptr<ZNFPeerSession>& session,
                                           ZNFMultipeerResourceBeganHandler began,
                                           ZNFMultipeerResourceFinishedHandler finished);

    quint64 keyForAdvertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser) const;
    quint64 keyForBrowser(const std::shared_ptr<ZNFPeerBrowser>& browser) const;
    quint64 keyForSession(const std::shared_ptr<ZNFPeerSession>& session) const;

    // The peer layer's callbacks.
    void advertiser(const std::shared_ptr<ZNFPeerAdvertiser>& advertiser, const ZNFPeerID& peer,
                    const QByteArray& context, const ZNFPeerInvitationHandler& invitationHandler) override;
    void browser(const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerID& peer,
                 const ZNFDiscoveryInfo& info) override;
    void browser(const std::shared_ptr<ZNFPeerBrowser>& browser, const ZNFPeerID& peer) override;
    void session(const std::shared_ptr<ZNFPeerSession>& session, const ZNFPeerID& peer,
                 ZNFPeerSession::State state) override;
    void session(const std::shared_ptr<ZNFPeerSession>& session, const QByteArray& data,
                 const ZNFPeerID& peer) override;
    void session(const std::shared_ptr<ZNFPeerSession>& session, const QString& resourceName,
                 const ZNFPeerID& peer, const std::shared_ptr<ZNFProgress>& progress) override;
    void session(const std::shared_ptr<ZNFPeerSession>& session, const QString& resourceName,
                 const ZNFPeerID& peer, const QUrl& localURL, const ZNFPeerError& error) override;
    using ZNFPeerAdvertiserDelegate::advertiser;
    using ZNFPeerBrowserDelegate::browser;

private:
    // The local peer as links see it: without its identity when the preference is none.
    ZNFPeerID linkPeer() const;
    // The layer calls from several threads at once: every table is read and changed under
    // this lock, and handlers are called with it released so they may call back in.
    mutable QMutex m_mutex;
    QString m_serviceType;
    ZNFPeerID m_peerId;
    std::optional<QVariantList> m_securityIdentity;
    qint64 m_encryptionPreference = 0;
    std::shared_ptr<ZNFPeerSession> m_session;

    QHash<quint64, std::shared_ptr<ZNFPeerAdvertiser>> m_advertisers;
    QHash<quint64, ZNFMultipeerInvitationHandler> m_advertisingHandlers;
    QHash<quint64, std::shared_ptr<ZNFPeerBrowser>> m_browsers;
    QHash<quint64, ZNFMultipeerFoundPeerHandler> m_browsingHandlers;
    QHash<ZNFPeerID, ZNFMultipeerStateHandler> m_sessionCompletions;
    QHash<quint64, ZNFMultipeerDataHandler> m_dataCompletions;
    QHash<quint64, ZNFMultipeerResourceBeganHandler> m_resourceBeganCompletions;
    QHash<quint64, ZNFMultipeerResourceFinishedHandler> m_resourceFinishedCompletions;
    QList<ZNFPeerID> m_connectedPeers;
};
