// DNS-SD through dns_sd.h: Avahi's compatibility library on Linux, the system's on macOS.
// Each outstanding request has a socket that says when its callback is due; a
// QSocketNotifier on the layer thread turns that into DNSServiceProcessResult calls.
#include "platform/peer/ZNFPeerDiscovery.h"

#include "platform/peer/ZNFPeerLog.h"

#include <QHash>
#include <QPointer>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <dns_sd.h>
#include <memory>

namespace {

QByteArray regType(const QString& serviceType) {
    return "_" + serviceType.toUtf8() + "._tcp";
}

ZNFPeerError startError(const char* call, DNSServiceErrorType code) {
    // The compat library answers "unknown" when it cannot reach the daemon at all.
    if (code == kDNSServiceErr_Unknown)
        return ZNFPeerError(ZNFPeerError::DiscoveryUnavailable,
                            QStringLiteral("discovery is unavailable: no DNS-SD responder is running "
                                           "(%1 returned %2); start avahi-daemon, or try it inside "
                                           "scripts/netns-run.sh")
                                .arg(QLatin1StringView(call))
                                .arg(code));
    return ZNFPeerError(
        ZNFPeerError::DiscoveryFailed,
        QStringLiteral("%1 failed with DNS-SD error %2").arg(QLatin1StringView(call)).arg(code));
}

// One DNSServiceRef with its notifier. Deallocation is never done inside the ref's own
// callback: finished requests are released later on the event loop.
class Request : public QObject {
public:
    explicit Request(QObject* parent = nullptr) : QObject(parent) {}
    ~Request() override { release(); }

    DNSServiceRef* slot() { return &m_ref; }
    DNSServiceRef ref() const { return m_ref; }

    // On the thread that will process results.
    void watch(std::function<void(DNSServiceErrorType)> onError) {
        if (!m_ref || m_notifier)
            return;
        m_notifier = new QSocketNotifier(DNSServiceRefSockFD(m_ref), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this, onError] {
            const DNSServiceErrorType error = DNSServiceProcessResult(m_ref);
            if (error != kDNSServiceErr_NoError) {
                m_notifier->setEnabled(false);
                if (onError)
                    onError(error);
            }
        });
    }

    void finishLater() {
        if (m_notifier)
            m_notifier->setEnabled(false);
        deleteLater();
    }

private:
    void release() {
        delete m_notifier;
        m_notifier = nullptr;
        if (m_ref)
            DNSServiceRefDeallocate(m_ref);
        m_ref = nullptr;
    }

    DNSServiceRef m_ref = nullptr;
    QSocketNotifier* m_notifier = nullptr;
};

class DnsSdPublisher : public ZNFDiscoveryPublisher {
public:
    ZNFPeerError start(const QString& serviceType, const QString& instance, quint16 port,
                       const QByteArray& txt) override {
        m_request = new Request(this);
        const QByteArray name = instance.toUtf8();
        const DNSServiceErrorType error =
            DNSServiceRegister(m_request->slot(), 0, kDNSServiceInterfaceIndexAny, name.constData(),
                               regType(serviceType).constData(), nullptr, nullptr, htons(port),
                               uint16_t(txt.size()), txt.constData(), &DnsSdPublisher::registered, this);
        if (error != kDNSServiceErr_NoError) {
            *m_request->slot() = nullptr;
            return startError("DNSServiceRegister", error);
        }
        return {};
    }

    void attach() override {
        if (m_request)
            m_request->watch([this](DNSServiceErrorType error) { report(error); });
    }

private:
    static void DNSSD_API registered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char*,
                                     const char*, const char*, void* context) {
        if (error != kDNSServiceErr_NoError)
            static_cast<DnsSdPublisher*>(context)->report(error);
    }

    void report(DNSServiceErrorType error) {
        qCWarning(lcPeer()).noquote()
            << QStringLiteral("DNS-SD registration failed: %1").arg(QString::number(error));
        emit failed(startError("DNSServiceRegister", error));
    }

    Request* m_request = nullptr;
};

class DnsSdBrowser : public ZNFDiscoveryBrowser {
public:
    ZNFPeerError start(const QString& serviceType) override {
        m_browse = new Request(this);
        const DNSServiceErrorType error =
            DNSServiceBrowse(m_browse->slot(), 0, kDNSServiceInterfaceIndexAny,
                             regType(serviceType).constData(), nullptr, &DnsSdBrowser::browsed, this);
        if (error != kDNSServiceErr_NoError) {
            *m_browse->slot() = nullptr;
            return startError("DNSServiceBrowse", error);
        }
        return {};
    }

    void attach() override {
        if (m_browse)
            m_browse->watch(
                [this](DNSServiceErrorType error) { emit failed(startError("DNSServiceBrowse", error)); });
    }

private:
    // What we know of one instance while it is being resolved and once it is reported.
    struct Instance {
        int sightings = 0; // once per interface it is seen on
        bool reported = false;
        QPointer<Request> pending;
        quint16 port = 0;
        QByteArray txt;
    };

    struct Context {
        DnsSdBrowser* browser;
        QString instance;
    };

    static void DNSSD_API browsed(DNSServiceRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                                  DNSServiceErrorType error, const char* name, const char* type,
                                  const char* domain, void* context) {
        if (error != kDNSServiceErr_NoError)
            return;
        auto* self = static_cast<DnsSdBrowser*>(context);
        const QString instance = QString::fromUtf8(name);
        if (flags & kDNSServiceFlagsAdd)
            self->added(instance, interfaceIndex, type, domain);
        else
            self->removed(instance);
    }

    void added(const QString& instance, uint32_t interfaceIndex, const char* type, const char* domain) {
        Instance& entry = m_instances[instance];
        ++entry.sightings;
        if (entry.reported || entry.pending)
            return;
        auto* request = new Request(this);
        auto* context = new Context{this, instance};
        connect(request, &QObject::destroyed, [context] { delete context; });
        const DNSServiceErrorType error =
            DNSServiceResolve(request->slot(), 0, interfaceIndex, instance.toUtf8().constData(), type, domain,
                              &DnsSdBrowser::resolved, context);
        if (error != kDNSServiceErr_NoError) {
            *request->slot() = nullptr;
            delete request;
            return;
        }
        request->watch({});
        entry.pending = request;
    }

    void removed(const QString& instance) {
        auto it = m_instances.find(instance);
        if (it == m_instances.end())
            return;
        if (--it->sightings > 0)
            return;
        const bool reported = it->reported;
        if (it->pending)
            it->pending->finishLater();
        m_instances.erase(it);
        if (reported)
            emit lost(instance);
    }

    static void DNSSD_API resolved(DNSServiceRef, DNSServiceFlags, uint32_t interfaceIndex,
                                   DNSServiceErrorType error, const char*, const char* host, uint16_t port,
                                   uint16_t txtLength, const unsigned char* txt, void* context) {
        auto* c = static_cast<Context*>(context);
        c->browser->gotService(c->instance, error, interfaceIndex, host, ntohs(port),
                               QByteArray(reinterpret_cast<const char*>(txt), txtLength));
    }

    void gotService(const QString& instance, DNSServiceErrorType error, uint32_t interfaceIndex,
                    const char* host, quint16 port, const QByteArray& txt) {
        auto it = m_instances.find(instance);
        if (it == m_instances.end() || !it->pending)
            return;
        it->pending->finishLater();
        it->pending = nullptr;
        if (error != kDNSServiceErr_NoError)
            return;
        it->port = port;
        it->txt = txt;
        // The host name still has to become an address; the compat library has no
        // DNSServiceGetAddrInfo, so ask for the A record.
        auto* request = new Request(this);
        auto* context = new Context{this, instance};
        connect(request, &QObject::destroyed, [context] { delete context; });
        const DNSServiceErrorType queryError =
            DNSServiceQueryRecord(request->slot(), 0, interfaceIndex, host, kDNSServiceType_A,
                                  kDNSServiceClass_IN, &DnsSdBrowser::answered, context);
        if (queryError != kDNSServiceErr_NoError) {
            *request->slot() = nullptr;
            delete request;
            return;
        }
        request->watch({});
        it->pending = request;
    }

    static void DNSSD_API answered(DNSServiceRef, DNSServiceFlags flags, uint32_t, DNSServiceErrorType error,
                                   const char*, uint16_t type, uint16_t, uint16_t length, const void* data,
                                   uint32_t, void* context) {
        if (error != kDNSServiceErr_NoError || !(flags & kDNSServiceFlagsAdd) || type != kDNSServiceType_A ||
            length != 4)
            return;
        auto* c = static_cast<Context*>(context);
        quint32 address;
        memcpy(&address, data, 4);
        c->browser->gotAddress(c->instance, QHostAddress(ntohl(address)));
    }

    void gotAddress(const QString& instance, const QHostAddress& address) {
        auto it = m_instances.find(instance);
        if (it == m_instances.end() || !it->pending || it->reported)
            return;
        it->pending->finishLater();
        it->pending = nullptr;
        it->reported = true;
        emit found(instance, address, it->port, it->txt);
    }

    Request* m_browse = nullptr;
    QHash<QString, Instance> m_instances;
};

} // namespace

std::unique_ptr<ZNFDiscoveryPublisher> ZNFCreateDnsSdPublisher() {
    return std::make_unique<DnsSdPublisher>();
}
std::unique_ptr<ZNFDiscoveryBrowser> ZNFCreateDnsSdBrowser() {
    return std::make_unique<DnsSdBrowser>();
}
