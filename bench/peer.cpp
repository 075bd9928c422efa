// Wireless delivery speed: a resource over the peer layer on loopback beside a plain TCP
// copy of the same file in the same run, and the time from advertising to the first found
// peer. Discovery through DNS-SD is measured only inside the private namespace:
//   scripts/netns-run.sh build/bench/bench_peer
#include "platform/peer/ZNFPeerAdvertiser.h"
#include "platform/peer/ZNFPeerBrowser.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerSession.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qint64 kMB = 1 << 20;

// One flag a layer thread raises and the benchmark thread waits for.
struct Signal {
    std::mutex mutex;
    std::condition_variable cv;
    bool raised = false;
    void raise() {
        std::lock_guard<std::mutex> lock(mutex);
        raised = true;
        cv.notify_all();
    }
    bool wait(int seconds = 120) {
        std::unique_lock<std::mutex> lock(mutex);
        const bool ok = cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return raised; });
        raised = false;
        return ok;
    }
};

QString patternFile(const QTemporaryDir& dir, qint64 size) {
    const QString path = dir.filePath(QStringLiteral("payload-%1").arg(size));
    if (QFile(path).size() == size)
        return path;
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray block(kMB, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (qint64 left = size; left > 0; left -= block.size()) {
        generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        file.write(block.constData(), qMin<qint64>(left, block.size()));
    }
    // Written back now, so that the page cache's dirty-data throttling does not land on
    // whichever benchmark happens to write next.
    file.flush();
    ::fsync(file.handle());
    return path;
}

QTemporaryDir& scratch() {
    static QTemporaryDir dir;
    return dir;
}

double maxRssMB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

class Sink : public ZNFPeerSessionDelegate {
public:
    Signal connected;
    void session(const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID&, qint64 state) override {
        if (state == ZNFPeerSession::Connected)
            connected.raise();
    }
    void session(const std::shared_ptr<ZNFPeerSession>&, const QByteArray&, const ZNFPeerID&) override {}
    void session(const std::shared_ptr<ZNFPeerSession>&, const QString&, const ZNFPeerID&,
                 const std::shared_ptr<ZNFProgress>&) override {}
    void session(const std::shared_ptr<ZNFPeerSession>&, const QString&, const ZNFPeerID&, const QUrl&,
                 const ZNFPeerError&) override {}
};

class Acceptor : public ZNFPeerAdvertiserDelegate {
public:
    std::shared_ptr<ZNFPeerSession> session;
    void advertiser(const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID&, const QByteArray&,
                    const ZNFPeerInvitationHandler& reply) override {
        reply(true, session);
    }
};

class Finder : public ZNFPeerBrowserDelegate {
public:
    Signal found;
    ZNFPeerID wanted;
    void browser(const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer,
                 const ZNFDiscoveryInfo&) override {
        if (peer == wanted)
            found.raise();
    }
    void browser(const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID&) override {}
};

// A resource from one session to another, both in this process, over 127.0.0.1.
void BM_PeerResource(benchmark::State& state) {
    const qint64 size = state.range(0) * kMB;
    const QString path = patternFile(scratch(), size);
    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
    const ZNFPeerID host(QStringLiteral("Host")), guest(QStringLiteral("Guest"));
    auto hostSession = ZNFPeerSession::create(host);
    auto guestSession = ZNFPeerSession::create(guest);
    auto sink = std::make_shared<Sink>();
    guestSession->setDelegate(sink);
    auto acceptor = std::make_shared<Acceptor>();
    acceptor->session = hostSession;
    auto advertiser = ZNFPeerAdvertiser::create(host, {}, QStringLiteral("nc-bench"));
    advertiser->setDelegate(acceptor);
    advertiser->startAdvertisingPeer();
    guestSession->connectToPeer(host, QHostAddress::LocalHost, advertiser->port(), {}, 10);
    if (!sink->connected.wait(10)) {
        state.SkipWithError("could not connect");
        return;
    }
    const double rssBefore = maxRssMB();
    for (auto _ : state) {
        Signal done;
        ZNFPeerError result;
        hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("payload"), guest,
                                       [&](const ZNFPeerError& error) {
                                           result = error;
                                           done.raise();
                                       });
        if (!done.wait() || !result.isNull()) {
            state.SkipWithError(qPrintable(QStringLiteral("transfer failed: %1").arg(result.description())));
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["maxrss_growth_MB"] = maxRssMB() - rssBefore;
    state.counters["maxrss_MB"] = maxRssMB();
    advertiser->stopAdvertisingPeer();
    guestSession->disconnect();
    hostSession->disconnect();
}
BENCHMARK(BM_PeerResource)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file through a plain TCP connection into a file, one thread each side.
void BM_PlainTcpCopy(benchmark::State& state) {
    const qint64 size = state.range(0) * kMB;
    const QString path = patternFile(scratch(), size);
    const QString target = scratch().filePath(QStringLiteral("plain-copy"));
    for (auto _ : state) {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        std::thread receiver([&] {
            const int fd = ::accept(listener, nullptr, nullptr);
            QFile out(target);
            out.open(QIODevice::WriteOnly);
            QByteArray buffer(256 * 1024, Qt::Uninitialized);
            ssize_t n;
            while ((n = ::read(fd, buffer.data(), buffer.size())) > 0)
                out.write(buffer.constData(), n);
            ::close(fd);
        });
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        QFile in(path);
        in.open(QIODevice::ReadOnly);
        QByteArray buffer(256 * 1024, Qt::Uninitialized);
        qint64 n;
        while ((n = in.read(buffer.data(), buffer.size())) > 0) {
            for (qint64 sent = 0; sent < n;) {
                const ssize_t w = ::write(fd, buffer.constData() + sent, size_t(n - sent));
                if (w <= 0)
                    break;
                sent += w;
            }
        }
        ::close(fd);
        receiver.join();
        ::close(listener);
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_PlainTcpCopy)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

// From starting to advertise until a browser reports the peer. With DNS-SD this needs the
// namespace's responder; elsewhere it is skipped.
void BM_AdvertiseToFirstFound(benchmark::State& state) {
    const bool dnssd = state.range(0) == 1;
    if (dnssd && qgetenv("NOTECRATE_NETNS_INSIDE") != "1") {
        state.SkipWithError("DNS-SD: run through scripts/netns-run.sh");
        return;
    }
    ZNFPeerDiscovery::setBackend(dnssd ? ZNFPeerDiscovery::Backend::DnsSd
                                       : ZNFPeerDiscovery::Backend::Loopback);
    int round = 0;
    for (auto _ : state) {
        const ZNFPeerID host(QStringLiteral("Host %1").arg(++round)), guest(QStringLiteral("Guest"));
        auto finder = std::make_shared<Finder>();
        finder->wanted = host;
        auto browser = ZNFPeerBrowser::create(guest, QStringLiteral("nc-found"));
        browser->setDelegate(finder);
        browser->startBrowsingForPeers();
        auto advertiser = ZNFPeerAdvertiser::create(host, {{QStringLiteral("host"), QStringLiteral("bench")}},
                                                    QStringLiteral("nc-found"));
        const auto start = std::chrono::steady_clock::now();
        advertiser->startAdvertisingPeer();
        if (!advertiser->startError().isNull() || !finder->found.wait(10)) {
            state.SkipWithError("not found");
            break;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        advertiser->stopAdvertisingPeer();
        browser->stopBrowsingForPeers();
    }
}
BENCHMARK(BM_AdvertiseToFirstFound)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("AVAHI_COMPAT_NOWARN", "1");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
