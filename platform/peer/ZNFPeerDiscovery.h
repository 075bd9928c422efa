#pragma once

#include "platform/peer/ZNFPeerError.h"

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>
#include <memory>

// Finding peers is separate from talking to them. The DNS-SD backend announces
// "_<serviceType>._tcp" through the system's responder; the loopback backend keeps
// announcements inside this process, so sessions, advertisers and browsers can be tested
// over 127.0.0.1 with no responder at all.
namespace ZNFPeerDiscovery {
enum class Backend { DnsSd, Loopback };
// DnsSd unless NOTECRATE_PEER_DISCOVERY=loopback or a setBackend call says otherwise.
Backend backend();
void setBackend(Backend backend);
// Where advertisers accept connections: everywhere for DNS-SD, 127.0.0.1 for loopback.
QHostAddress listenAddress();
// 1 to 15 characters of lowercase ASCII letters, digits and hyphens, no hyphen at either end
// and none doubled, as DNS-SD service names allow.
bool isValidServiceType(const QString& serviceType);

// TXT record data: one length-prefixed "key=value" string per entry. Entries that would not
// fit 255 bytes are left out.
QByteArray encodeTXT(const QMap<QString, QString>& entries);
QMap<QString, QString> decodeTXT(const QByteArray& record);
// The service instance a peer announces itself as: its unique id, or for a fingerprint (too
// long for a DNS label; the TXT record carries it whole) its start and a part of its own.
QString instanceName(const QString& uniqueID);
} // namespace ZNFPeerDiscovery

// Announces one service instance. start() runs on the creating thread and says at once
// whether the responder took it; attach() then runs on the layer thread it was moved to, and
// signals come from there.
class ZNFDiscoveryPublisher : public QObject {
    Q_OBJECT
public:
    virtual ZNFPeerError start(const QString& serviceType, const QString& instance, quint16 port,
                               const QByteArray& txt) = 0;
    virtual void attach() {}

    // The backend chosen by ZNFPeerDiscovery::backend().
    static std::unique_ptr<ZNFDiscoveryPublisher> create();

signals:
    // The responder dropped the registration later on.
    void failed(const ZNFPeerError& error);
};

// Looks for instances of one service type; as the publisher, started on the creating thread
// and attached on a layer thread.
class ZNFDiscoveryBrowser : public QObject {
    Q_OBJECT
public:
    virtual ZNFPeerError start(const QString& serviceType) = 0;
    virtual void attach() {}

    static std::unique_ptr<ZNFDiscoveryBrowser> create();

signals:
    void found(const QString& instance, const QHostAddress& address, quint16 port, const QByteArray& txt);
    void lost(const QString& instance);
    void failed(const ZNFPeerError& error);
};

// Each backend in its own file.
std::unique_ptr<ZNFDiscoveryPublisher> ZNFCreateDnsSdPublisher();
std::unique_ptr<ZNFDiscoveryBrowser> ZNFCreateDnsSdBrowser();
std::unique_ptr<ZNFDiscoveryPublisher> ZNFCreateLoopbackPublisher();
std::unique_ptr<ZNFDiscoveryBrowser> ZNFCreateLoopbackBrowser();

// The TXT key that carries the peer's display name beside the caller's discovery info; the
// service instance name is the peer's unique id.
inline constexpr QLatin1StringView ZNFPeerDiscovery_displayNameKey{"_dn"};
// The TXT key that carries the fingerprint of an encrypting peer's key: its unique id.
inline constexpr QLatin1StringView ZNFPeerDiscovery_fingerprintKey{"fp"};
// A peer without an identity (plain frames) announces its id here: an instance name holds at most
// 63 bytes, so a longer id would not come through the instance name whole.
inline constexpr QLatin1StringView ZNFPeerDiscovery_peerIdKey{"id"};
