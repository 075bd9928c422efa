#include "platform/peer/ZNFPeerDiscovery.h"

#include <QMutex>
#include <QPointer>
#include <QRegularExpression>
#include <QVector>
#include <atomic>

std::unique_ptr<ZNFDiscoveryPublisher> ZNFCreateDnsSdPublisher();
std::unique_ptr<ZNFDiscoveryBrowser> ZNFCreateDnsSdBrowser();

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

// --- loopback: announcements live in a process-wide table ---

namespace {
class LoopbackPublisher;
class LoopbackBrowser;

struct Announcement {
    const LoopbackPublisher* owner;
    QString serviceType;
    QString instance;
    quint16 port;
    QByteArray txt;
};

struct Registry {
    QMutex mutex;
    QVector<Announcement> announcements;
    QVector<LoopbackBrowser*> browsers;
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

class LoopbackBrowser : public ZNFDiscoveryBrowser {
public:
    ~LoopbackBrowser() override {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        r.browsers.removeAll(this);
    }

    ZNFPeerError start(const QString& serviceType) override {
        m_serviceType = serviceType;
        return {};
    }

    void attach() override {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        r.browsers.append(this);
        for (const Announcement& a : std::as_const(r.announcements))
            if (a.serviceType == m_serviceType)
                postFound(a);
    }

    // Called with the registry locked, so this object cannot be destroyed meanwhile; a post
    // still queued when it is destroyed is discarded with it.
    void postFound(const Announcement& a) {
        QMetaObject::invokeMethod(
            this,
            [this, a] {
                if (onFound)
                    onFound(a.instance, QHostAddress(QHostAddress::LocalHost), a.port, a.txt);
            },
            Qt::QueuedConnection);
    }
    void postLost(const QString& instance) {
        QMetaObject::invokeMethod(
            this,
            [this, instance] {
                if (onLost)
                    onLost(instance);
            },
            Qt::QueuedConnection);
    }
    QString serviceType() const { return m_serviceType; }

private:
    QString m_serviceType;
};

class LoopbackPublisher : public ZNFDiscoveryPublisher {
public:
    ~LoopbackPublisher() override {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        for (qsizetype i = r.announcements.size() - 1; i >= 0; --i) {
            if (r.announcements.at(i).owner != this)
                continue;
            const Announcement a = r.announcements.takeAt(i);
            for (LoopbackBrowser* browser : std::as_const(r.browsers))
                if (browser->serviceType() == a.serviceType)
                    browser->postLost(a.instance);
        }
    }

    ZNFPeerError start(const QString& serviceType, const QString& instance, quint16 port,
                       const QByteArray& txt) override {
        Registry& r = registry();
        QMutexLocker lock(&r.mutex);
        const Announcement a{this, serviceType, instance, port, txt};
        r.announcements.append(a);
        for (LoopbackBrowser* browser : std::as_const(r.browsers))
            if (browser->serviceType() == serviceType)
                browser->postFound(a);
        return {};
    }
};
} // namespace

std::unique_ptr<ZNFDiscoveryPublisher> ZNFDiscoveryPublisher::create() {
    if (ZNFPeerDiscovery::backend() == ZNFPeerDiscovery::Backend::Loopback)
        return std::make_unique<LoopbackPublisher>();
    return ZNFCreateDnsSdPublisher();
}

std::unique_ptr<ZNFDiscoveryBrowser> ZNFDiscoveryBrowser::create() {
    if (ZNFPeerDiscovery::backend() == ZNFPeerDiscovery::Backend::Loopback)
        return std::make_unique<LoopbackBrowser>();
    return ZNFCreateDnsSdBrowser();
}
