#include "platform/peer/ZNFPeerDiscovery.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <atomic>

namespace {
std::atomic<int> gBackend{-1};

ZNFPeerDiscovery::Backend backendFromEnvironment() {
    return qgetenv("NOTECRATE_PEER_DISCOVERY") == "loopback" ? ZNFPeerDiscovery::Backend::Loopback
                                                             : ZNFPeerDiscovery::Backend::DnsSd;
}
} // namespace

ZNFPeerDiscovery::Backend ZNFPeerDiscovery::backend() {
    const int value = gBackend.load();
    return value < 0 ? backendFromEnvironment() : Backend(value);
}

void ZNFPeerDiscovery::setBackend(Backend backend) {
    gBackend.store(int(backend));
}

QHostAddress ZNFPeerDiscovery::listenAddress() {
    return backend() == Backend::Loopback ? QHostAddress(QHostAddress::LocalHost)
                                          : QHostAddress(QHostAddress::Any);
}

bool ZNFPeerDiscovery::isValidServiceType(const QString& serviceType) {
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9]([a-z0-9]|-(?!-))*(?<!-)$"));
    return !serviceType.isEmpty() && serviceType.size() <= 15 && pattern.match(serviceType).hasMatch();
}

QByteArray ZNFPeerDiscovery::encodeTXT(const QMap<QString, QString>& entries) {
    QByteArray record;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QByteArray key = it.key().toUtf8();
        if (key.isEmpty() || key.contains('='))
            continue;
        const QByteArray entry = key + '=' + it.value().toUtf8();
        if (entry.size() > 255)
            continue;
        record.append(char(entry.size()));
        record.append(entry);
    }
    return record;
}

QMap<QString, QString> ZNFPeerDiscovery::decodeTXT(const QByteArray& record) {
    QMap<QString, QString> entries;
    qsizetype pos = 0;
    while (pos < record.size()) {
        const int length = quint8(record.at(pos++));
        if (length > record.size() - pos)
            break; // a cut-off record: keep what was whole
        const QByteArray entry = record.mid(pos, length);
        pos += length;
        const qsizetype equals = entry.indexOf('=');
        if (equals <= 0)
            continue;
        entries.insert(QString::fromUtf8(entry.left(equals)), QString::fromUtf8(entry.mid(equals + 1)));
    }
    return entries;
}

std::unique_ptr<ZNFDiscoveryPublisher> ZNFDiscoveryPublisher::create() {
    if (ZNFPeerDiscovery::backend() == ZNFPeerDiscovery::Backend::Loopback)
        return ZNFCreateLoopbackPublisher();
    return ZNFCreateDnsSdPublisher();
}

std::unique_ptr<ZNFDiscoveryBrowser> ZNFDiscoveryBrowser::create() {
    if (ZNFPeerDiscovery::backend() == ZNFPeerDiscovery::Backend::Loopback)
        return ZNFCreateLoopbackBrowser();
    return ZNFCreateDnsSdBrowser();
}

QString ZNFPeerDiscovery::instanceName(const QString& uniqueID) {
    constexpr int kMaxLabelBytes = 63;
    if (uniqueID.toUtf8().size() <= kMaxLabelBytes)
        return uniqueID;
    // A fingerprint: its start, and a part of its own per announcement so that a restarted
    // device does not collide with its own record still cached on the network.
    return uniqueID.left(16) + QLatin1Char('-') +
           QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, QLatin1Char('0'));
}
