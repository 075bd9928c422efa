// Discovery through a real DNS-SD responder, end to end. CliRun by ctest through
// scripts/netns-run.sh, which gives this program a network namespace of its own with only
// the loopback interface, a dbus-daemon and an avahi-daemon.
#include "TestSupport.h"
#include "peer/support/PeerTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class NetnsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qgetenv("NOTECRATE_NETNS_INSIDE") != "1")
            GTEST_SKIP()
                << "needs a private network namespace: run through scripts/netns-run.sh (ctest does)";
        ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::DnsSd);
    }
};

TEST_F(NetnsTest, AdvertiseBrowseInviteAcceptAndSendFiftyMegabytes) {
    ScopedFastLimits fast;
    PeerPair pair(QStringLiteral("nc-e2e"), ZNFPeerDiscovery::Backend::DnsSd);
    QElapsedTimer clock;
    clock.start();
    pair.advertiser->startAdvertisingPeer();
    ASSERT_TRUE(pair.advertiser->startError().isNull())
        << qPrintable(pair.advertiser->startError().message());
    pair.browser->startBrowsingForPeers();
    ASSERT_TRUE(pair.browser->startError().isNull()) << qPrintable(pair.browser->startError().message());
    ASSERT_TRUE(waitUntil([&] { return pair.browsing->found().contains(pair.hostID); }, 10000));
    std::printf("advertising to first found: %lld ms\n", static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(pair.browsing->found().first().displayName(), QStringLiteral("Host Computer"));
    EXPECT_EQ(pair.browsing->infoOf(pair.hostID).value(QStringLiteral("host")), QStringLiteral("test box"));

    // Hostile connections to the announced port are dropped, the advertiser keeps working.
    {
        QTcpSocket garbage;
        garbage.connectToHost(QHostAddress::LocalHost, pair.advertiser->port());
        ASSERT_TRUE(garbage.waitForConnected(2000));
        garbage.write(QByteArray("GET / HTTP/1.0\r\n\r\n") + QByteArray(100, '\xff'));
        EXPECT_TRUE(waitClosed(garbage));
        QTcpSocket idle;
        idle.connectToHost(QHostAddress::LocalHost, pair.advertiser->port());
        ASSERT_TRUE(idle.waitForConnected(2000));
        EXPECT_TRUE(waitClosed(idle, 3000)); // never invites: closed after the handshake time
    }

    pair.browser->invitePeer(pair.hostID, pair.guestSession, QByteArray("ctx"), 10);
    ASSERT_TRUE(waitUntil([&] {
        return pair.hostSession->connectedPeers().contains(pair.guestID) &&
               pair.guestSession->connectedPeers().contains(pair.hostID);
    }));
    EXPECT_EQ(pair.answering->lastContext(), QByteArray("ctx"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fifty.notebackup"));
    const qint64 size = 50ll << 20;
    const QByteArray sha = writePatternFile(path, size, 50);
    QByteArray head, tail;
    pair.guestEvents->onFinished = [&](const QString& stored) {
        QFile file(stored);
        if (file.open(QIODevice::ReadOnly)) {
            head = file.read(4096);
            file.seek(size - 4096);
            tail = file.read(4096);
        }
    };
    CompletionProbe probe;
    pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("fifty.notebackup"),
                                        pair.guestID, probe.callback());
    ASSERT_TRUE(probe.wait(60000));
    EXPECT_TRUE(probe.error().isNull()) << qPrintable(probe.error().description());
    ASSERT_EQ(pair.guestEvents->finished().size(), 1u);
    const auto got = pair.guestEvents->finished().front();
    EXPECT_TRUE(got.error.isNull());
    EXPECT_EQ(got.size, size);
    EXPECT_EQ(got.sha256, sha);
    QFile source(path);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    EXPECT_EQ(head, source.read(4096));
    source.seek(size - 4096);
    EXPECT_EQ(tail, source.read(4096));

    // Gone from the network once it stops.
    pair.advertiser->stopAdvertisingPeer();
    EXPECT_TRUE(waitUntil([&] { return pair.browsing->lost().contains(pair.hostID); }, 10000));
}

struct CliRun {
    int exitCode = -1;
    QByteArray out, err;
};

QProcess* startCli(const QStringList& arguments) {
    auto* process = new QProcess;
    process->setProgram(QStringLiteral(NOTECRATE_CLI));
    process->setArguments(arguments);
    process->start();
    return process;
}

CliRun finishCli(QProcess* process, int timeoutMs = 30000) {
    CliRun run;
    if (!process->waitForFinished(timeoutMs))
        process->kill(), process->waitForFinished(2000);
    run.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    run.out = process->readAllStandardOutput();
    run.err = process->readAllStandardError();
    delete process;
    return run;
}

TEST_F(NetnsTest, SendAndReceiveCommandsMoveAnArchiveBetweenProcesses) {
    ScopedHome home;
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("Vesper_to_Tessanote.notebackup"));
    const QByteArray sha = writePatternFile(archive, 3 << 20, 7);
    const QString inbox = dir.filePath(QStringLiteral("inbox"));

    QProcess* receiver = startCli({QStringLiteral("receive"), inbox});
    QProcess* sender = startCli({QStringLiteral("send"), archive});
    const CliRun sent = finishCli(sender);
    const CliRun received = finishCli(receiver);
    ASSERT_EQ(sent.exitCode, 0) << sent.err.constData();
    ASSERT_EQ(received.exitCode, 0) << received.err.constData();

    const QString stored = QDir(inbox).filePath(QStringLiteral("Vesper_to_Tessanote.notebackup"));
    EXPECT_EQ(sha256OfFile(stored), sha);
    EXPECT_EQ(QDir(inbox).entryList(QDir::Files | QDir::Hidden).size(), 1);
    const QJsonObject receipt = QJsonDocument::fromJson(received.out).object();
    EXPECT_EQ(receipt.value(QStringLiteral("path")).toString(), stored);
    EXPECT_EQ(receipt.value(QStringLiteral("bytes")).toInteger(), 3 << 20);
    const QJsonObject confirmation = QJsonDocument::fromJson(sent.out).object();
    EXPECT_EQ(confirmation.value(QStringLiteral("sent")).toString(), archive);
}

TEST_F(NetnsTest, ReceiveRefusesAHiddenFileName) {
    ScopedHome home;
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("..sneaky.notebackup"));
    writePatternFile(archive, 1000, 3);
    const QString inbox = dir.filePath(QStringLiteral("inbox"));

    QProcess* receiver = startCli({QStringLiteral("receive"), inbox});
    QProcess* sender = startCli({QStringLiteral("send"), archive});
    const CliRun received = finishCli(receiver);
    const CliRun sent = finishCli(sender);
    EXPECT_EQ(received.exitCode, 1);
    // The sender is not told that a refused archive arrived.
    EXPECT_EQ(sent.exitCode, 1);
    EXPECT_TRUE(sent.err.contains("refused the resource name")) << sent.err.constData();
    EXPECT_TRUE(received.err.contains("refusing the resource name"))
        << received.err.constData() << received.exitCode;
    EXPECT_TRUE(QDir(inbox).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

} // namespace
