// Discovery inside this process: announcements live in a process-wide table and reach the
// browsers of the same service type, with 127.0.0.1 as every peer's address. Lets sessions,
// advertisers and browsers be tested over loopback with no DNS-SD responder at all.
#include "platform/peer/ZNFPeerDiscovery.h"

#include <QMutex>
#include <QVector>

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
            this, [this, a] { emit found(a.instance, QHostAddress(QHostAddress::LocalHost), a.port, a.txt); },
            Qt::QueuedConnection);
    }
    void postLost(const QString& instance) {
        QMetaObject::invokeMethod(
            this, [this, instance] { emit lost(instance); }, Qt::QueuedConnection);
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

std::unique_ptr<ZNFDiscoveryPublisher> ZNFCreateLoopbackPublisher() {
    return std::make_unique<LoopbackPublisher>();
}
std::unique_ptr<ZNFDiscoveryBrowser> ZNFCreateLoopbackBrowser() {
    return std::make_unique<LoopbackBrowser>();
}
