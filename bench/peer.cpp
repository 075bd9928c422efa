// Wireless delivery speed and memory:
// - a 200 MB resource from this process to a receiving session in a second process over
//   127.0.0.1, with plain frames and over TLS 1.3, each of five runs right after a plain
//   file-to-socket-to-file copy of the same file between two processes; medians compared
//   (the ratios are printed last);
// - an encrypted link from invitation to connected, code exchange included;
// - what links whose peer never reads make the sending process hold;
// - the time from advertising to the first found peer. Discovery through DNS-SD is measured
//   only inside the private namespace: scripts/netns-run.sh build/bench/bench_peer
#include "bench_main.h"
#include "platform/peer/ZNFPeerAdvertiser.h"
#include "platform/peer/ZNFPeerBrowser.h"
#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerSession.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr qint64 kMB = 1 << 20;
constexpr int kRuns = 5;
constexpr QLatin1StringView kPeerReceiverFlag{"--peer-receiver"};
constexpr QLatin1StringView kPlainReceiverFlag{"--plain-receiver"};

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

double rssMB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / double(kMB) : 0;
}

double maxRssMB(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

class Sink : public ZNFPeerSessionDelegate {
public:
    Signal connected;
    Signal gone;
    void session(const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID&,
                 ZNFPeerSession::State state) override {
        if (state == ZNFPeerSession::State::Connected)
            connected.raise();
        if (state == ZNFPeerSession::State::NotConnected)
            gone.raise();
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

// --- the second process ---

// Invites the sender at 127.0.0.1:port and stores what it sends (in TMPDIR, as the layer
// does) until the sender hangs up.
int runPeerReceiver(quint16 port, bool tls) {
    auto session =
        ZNFPeerSession::create(tls ? ZNFPeerID(QStringLiteral("Receiver"),
                                               std::make_shared<const ZNFPeerIdentity>(
                                                   ZNFPeerIdentity::generate(QStringLiteral("Receiver"))))
                                   : ZNFPeerID(QStringLiteral("Receiver")));
    auto sink = std::make_shared<Sink>();
    session->setDelegate(sink);
    session->connectToPeer(ZNFPeerID(), QHostAddress::LocalHost, port, {}, 10);
    if (!sink->connected.wait(10))
        return 1;
    sink->gone.wait(3600);
    return 0;
}

// Listens, prints its port, and copies each connection's bytes into `target`, answering one
// byte once the file is written.
int runPlainReceiver(const QString& target) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            return 1;
        QFile out(target);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        ssize_t n;
        while ((n = ::read(fd, buffer.data(), size_t(buffer.size()))) > 0)
            out.write(buffer.constData(), n);
        out.close();
        const char done = 1;
        if (::write(fd, &done, 1) != 1)
            return 1;
        ::close(fd);
    }
}

QProcess* startChild(const QStringList& arguments) {
    auto* child = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), scratch().path());
    child->setProcessEnvironment(environment);
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->start(QCoreApplication::applicationFilePath(), arguments);
    child->waitForStarted();
    return child;
}

void stopChild(QProcess* child) {
    if (!child->waitForFinished(5000)) {
        child->kill();
        child->waitForFinished(2000);
    }
    delete child;
}

// --- benchmarks ---

// The plain copy: the file from this process into a file written by `child`, through a plain
// socket, until the child says it has written it. Milliseconds, or -1.
double plainCopy(quint16 port, const QString& path) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
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
    ::shutdown(fd, SHUT_WR);
    char done = 0;
    const bool answered = ::read(fd, &done, 1) == 1;
    ::close(fd);
    return answered
               ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count()
               : -1;
}

ZNFPeerID benchPeer(const QString& name, bool tls) {
    return tls ? ZNFPeerID(name, std::make_shared<const ZNFPeerIdentity>(ZNFPeerIdentity::generate(name)))
               : ZNFPeerID(name);
}

// A resource from this process to a session in another over 127.0.0.1, timed; each run is
// preceded by the plain copy of the same file, so that both see the same load. Second
// argument: 1 for TLS.
void BM_TransferTwoProcesses(benchmark::State& state) {
    const qint64 size = state.range(0) * kMB;
    const bool tls = state.range(1) == 1;
    const QString path = patternFile(scratch(), size);
    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
    const ZNFPeerID host = benchPeer(QStringLiteral("Host"), tls);
    auto hostSession = ZNFPeerSession::create(host);
    auto sink = std::make_shared<Sink>();
    hostSession->setDelegate(sink);
    auto acceptor = std::make_shared<Acceptor>();
    acceptor->session = hostSession;
    auto advertiser = ZNFPeerAdvertiser::create(host, {}, QStringLiteral("nc-bench"));
    advertiser->setDelegate(acceptor);
    advertiser->startAdvertisingPeer();
    QProcess* peerChild =
        startChild({kPeerReceiverFlag, QString::number(advertiser->port()), QString::number(int(tls))});
    QProcess* plainChild = startChild({kPlainReceiverFlag, scratch().filePath(QStringLiteral("plain"))});
    plainChild->waitForReadyRead(10000);
    const quint16 plainPort = quint16(plainChild->readLine().trimmed().toUInt());
    const bool connected = sink->connected.wait(10);
    const ZNFPeerID receiver = hostSession->connectedPeers().value(0);
    for (auto _ : state) {
        if (!connected) {
            state.SkipWithError("the receiving process did not connect");
            break;
        }
        const double plainMs = plainCopy(plainPort, path);
        const auto start = std::chrono::steady_clock::now();
        Signal done;
        ZNFPeerError result;
        hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("payload"), receiver,
                                       [&](const ZNFPeerError& error) {
                                           result = error;
                                           done.raise();
                                       });
        if (!done.wait() || !result.isNull() || plainMs < 0) {
            state.SkipWithError(qPrintable(QStringLiteral("transfer failed: %1").arg(result.description())));
            break;
        }
        const double peerMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(peerMs / 1000.0);
        state.counters["plain_ms"] = plainMs;
        state.counters["peer_vs_plain_pct"] = 100.0 * plainMs / peerMs;
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["sender_maxrss_MB"] = maxRssMB();
    advertiser->stopAdvertisingPeer();
    hostSession->disconnect();
    stopChild(peerChild);
    plainChild->kill();
    stopChild(plainChild);
    // The largest of the children that ended so far: the plain copy's receiver holds little,
    // so this is the peer receiver's peak (or an earlier run's, when that was larger).
    state.counters["receiver_maxrss_MB"] = maxRssMB(RUSAGE_CHILDREN);
}
BENCHMARK(BM_TransferTwoProcesses)
    ->Args({200, 0})
    ->Args({200, 1})
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

// Links whose peers take a resource each and never read a byte of it: what the sending
// process holds for them once every link has stalled. As many links as a session allows.
void BM_LinksThatNeverRead(benchmark::State& state) {
    const int links = ZNFPeerLimits::current().maxLinksPerSession;
    const QString path = patternFile(scratch(), 64 * kMB);
    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
    for (auto _ : state) {
        const ZNFPeerID host(QStringLiteral("Host"));
        auto hostSession = ZNFPeerSession::create(host);
        auto acceptor = std::make_shared<Acceptor>();
        acceptor->session = hostSession;
        auto advertiser = ZNFPeerAdvertiser::create(host, {}, QStringLiteral("nc-stall"));
        advertiser->setDelegate(acceptor);
        advertiser->startAdvertisingPeer();
        std::vector<int> sockets;
        for (int i = 0; i < links; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(advertiser->port());
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            const ZNFPeerID peer(QStringLiteral("Stalled %1").arg(i));
            ZNFFrameWriter invite;
            invite.u8(ZNFPeerFrame::kProtocolVersion).string(peer.uniqueID()).string(peer.displayName());
            invite.u8(0).bytes({}).bytes({});
            QByteArray frame(ZNFPeerFrame::kHeaderBytes, Qt::Uninitialized);
            ZNFPeerFrame::writeHeader(frame.data(), ZNFPeerFrame::Invite, quint32(invite.payload().size()));
            frame += invite.payload();
            if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
                state.SkipWithError("cannot invite");
            sockets.push_back(fd);
            // One at a time: all at once, they would be more than may wait from one address.
            while (hostSession->connectedPeers().size() <= i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const double before = rssMB();
        for (const ZNFPeerID& peer : hostSession->connectedPeers())
            hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("payload"), peer, {});
        std::this_thread::sleep_for(std::chrono::seconds(2)); // every link has stalled by now
        const double growth = rssMB() - before;
        state.counters["rss_growth_MB"] = growth;
        state.counters["per_link_MB"] = growth / links;
        state.counters["links"] = links;
        advertiser->stopAdvertisingPeer();
        hostSession->disconnect();
        for (int fd : sockets)
            ::close(fd);
    }
}
BENCHMARK(BM_LinksThatNeverRead)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// An encrypted link, from the invitation to both sides connected: TCP, the TLS 1.3 handshake
// with both certificates, the commit-then-reveal code exchange and the answer.
void BM_EncryptedHandshakeAndCode(benchmark::State& state) {
    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
    const ZNFPeerID host = benchPeer(QStringLiteral("Host"), true);
    const ZNFPeerID guest = benchPeer(QStringLiteral("Guest"), true);
    auto hostSession = ZNFPeerSession::create(host);
    auto guestSession = ZNFPeerSession::create(guest);
    auto sink = std::make_shared<Sink>();
    auto hostSink = std::make_shared<Sink>();
    guestSession->setDelegate(sink);
    hostSession->setDelegate(hostSink);
    auto acceptor = std::make_shared<Acceptor>();
    acceptor->session = hostSession;
    auto advertiser = ZNFPeerAdvertiser::create(host, {}, QStringLiteral("nc-tls"));
    advertiser->setDelegate(acceptor);
    advertiser->startAdvertisingPeer();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        guestSession->connectToPeer(host, QHostAddress::LocalHost, advertiser->port(), {}, 10);
        if (!sink->connected.wait(10)) {
            state.SkipWithError("not connected");
            break;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        guestSession->disconnect();
        sink->gone.wait(10);
        hostSink->gone.wait(10);
    }
    advertiser->stopAdvertisingPeer();
}
BENCHMARK(BM_EncryptedHandshakeAndCode)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// Prints as usual, and keeps the medians of the two-process runs for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    double peerMs[2] = {0, 0};
    double plainMs[2] = {0, 0};
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name != "median" || run.run_name.function_name != "BM_TransferTwoProcesses")
                continue;
            const int tls = run.run_name.args.find("/1") != std::string::npos ? 1 : 0;
            peerMs[tls] = run.GetAdjustedRealTime();
            if (auto it = run.counters.find("plain_ms"); it != run.counters.end())
                plainMs[tls] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

RatioReporter reporter;

const bool registered = registerBenchProgram([](BenchProgram& program) {
    program.start = [](int argc, char** argv) -> std::optional<int> {
        if (argc == 4 && QLatin1StringView(argv[1]) == kPeerReceiverFlag)
            return runPeerReceiver(quint16(QByteArray(argv[2]).toUInt()), qstrcmp(argv[3], "1") == 0);
        if (argc == 3 && QLatin1StringView(argv[1]) == kPlainReceiverFlag)
            return runPlainReceiver(QString::fromLocal8Bit(argv[2]));
        return std::nullopt;
    };
    program.reporter = &reporter;
    program.finish = [] {
        for (int tls = 0; tls < 2; ++tls)
            if (reporter.peerMs[tls] > 0 && reporter.plainMs[tls] > 0)
                std::printf(
                    "200 MB between two processes, %s, medians of %d runs: peer layer %.0f ms, plain copy "
                    "%.0f ms, peer layer at %.0f%% of the plain copy's throughput\n",
                    tls ? "TLS 1.3" : "plain frames", kRuns, reporter.peerMs[tls], reporter.plainMs[tls],
                    100.0 * reporter.plainMs[tls] / reporter.peerMs[tls]);
    };
});
