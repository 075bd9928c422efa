// Discovery through a real DNS-SD responder, end to end. CliRun by ctest through
// scripts/netns-run.sh, which gives this program a network namespace of its own with only
// the loopback interface, a dbus-daemon and an avahi-daemon.
#include "TestSupport.h"
#include "peer/support/PeerTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
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
    PeerPair pair("nc-e2e", ZNFPeerDiscovery::Backend::DnsSd);
    QElapsedTimer clock;
    clock.start();
    pair.advertiser->startAdvertisingPeer();
    ASSERT_TRUE(pair.advertiser->startError().isNull())
        << qPrintable(pair.advertiser->startError().message());
    pair.browser->startBrowsingForPeers();
    ASSERT_TRUE(pair.browser->startError().isNull()) << qPrintable(pair.browser->startError().message());
    ASSERT_TRUE(waitUntil([&] { return pair.browsing->found().contains(pair.hostID); }, 10000));
    std::printf("advertising to first found: %lld ms\n", static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(pair.browsing->found().first().displayName(), "Host Computer");
    EXPECT_EQ(pair.browsing->infoOf(pair.hostID).value("host"), "test box");

    // Hostile and silent connections to the port are tests/peer/badinput.cpp's rows: the
    // advertiser's port does not depend on how it is announced.
    pair.browser->invitePeer(pair.hostID, pair.guestSession, QByteArray("ctx"), 10);
    ASSERT_TRUE(waitUntil([&] {
        return pair.hostSession->connectedPeers().contains(pair.guestID) &&
               pair.guestSession->connectedPeers().contains(pair.hostID);
    }));
    EXPECT_EQ(pair.answering->lastContext(), QByteArray("ctx"));

    QTemporaryDir dir;
    const QString path = dir.filePath("fifty.notebackup");
    const qint64 size = 50ll << 20;
    const QByteArray sha = writePatternFile(path, size, 50);
    CompletionProbe probe;
    pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), "fifty.notebackup", pair.guestID,
                                        probe.callback());
    ASSERT_TRUE(probe.wait(60000));
    EXPECT_TRUE(probe.error().isNull()) << qPrintable(probe.error().description());
    ASSERT_EQ(pair.guestEvents->finished().size(), 1u);
    const auto got = pair.guestEvents->finished().front();
    EXPECT_TRUE(got.error.isNull());
    EXPECT_EQ(got.size, size);
    EXPECT_EQ(got.sha256, sha); // of the stored file, as the receiver saw it

    // Gone from the network once it stops.
    pair.advertiser->stopAdvertisingPeer();
    EXPECT_TRUE(waitUntil([&] { return pair.browsing->lost().contains(pair.hostID); }, 10000));
}

struct CliRun {
    int exitCode = -1;
    QByteArray out, err;
};

// Each command as a device of its own: its own identity and remembered peers.
QProcess* startCli(const QStringList& arguments, const QString& config) {
    auto* process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", config);
    process->setProcessEnvironment(environment);
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

// `send` and `receive` as two processes, row after row with the same two devices: a new peer
// needs --yes (no terminal here) on each side, a remembered one nothing, and a name no file
// may carry is refused.
TEST_F(NetnsTest, SendAndReceiveCommandsBetweenProcesses) {
    ScopedHome home;
    QTemporaryDir dir, senderConfig, receiverConfig;
    const QString inbox = dir.filePath("inbox");
    const QString yes = "--yes";
    const struct {
        const char* what;
        const char* name;
        QStringList sendFlags, receiveFlags;
        int sendExit, receiveExit;
        const char* sendErr;
        const char* receiveErr;
    } rows[] = {
        // clang-format off
        {"a new receiver, no --yes on the sender", "a.notebackup", {}, {yes}, 1, -1,
         "refused, a new peer needs a terminal", ""},
        {"a new sender, no --yes on the receiver", "a.notebackup", {yes}, {}, 1, 1,
         "", "refused, a new peer needs a terminal"},
        {"both new, --yes on both", "Vesper_to_Tessanote.notebackup", {yes}, {yes}, 0, 0, "code ", "code "},
        {"remembered: no --yes needed", "Vesper_to_Tessanote.notebackup", {}, {}, 0, 0, "", ""},
        {"a hidden name", "..sneaky.notebackup", {}, {}, 1, 1,
         "refused the resource name", "refusing the resource name"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QDir(inbox).removeRecursively();
        const QString archive = dir.filePath(QLatin1String(row.name));
        const QByteArray sha = writePatternFile(archive, 3 << 20, 7);
        QProcess* receiver =
            startCli(QStringList{"receive"} + row.receiveFlags + QStringList{inbox}, receiverConfig.path());
        QProcess* sender =
            startCli(QStringList{"send"} + row.sendFlags + QStringList{archive}, senderConfig.path());
        const CliRun sent = finishCli(sender);
        // A receiver whose computer refused it keeps asking: it is stopped here.
        const CliRun received = finishCli(receiver, row.receiveExit < 0 ? 3000 : 30000);
        EXPECT_EQ(sent.exitCode, row.sendExit) << sent.err.constData();
        EXPECT_EQ(received.exitCode, row.receiveExit) << received.err.constData();
        EXPECT_TRUE(sent.err.contains(row.sendErr)) << sent.err.constData();
        EXPECT_TRUE(received.err.contains(row.receiveErr)) << received.err.constData();
        const QStringList stored = QDir(inbox).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        if (row.receiveExit != 0) {
            EXPECT_TRUE(stored.isEmpty()) << qPrintable(stored.join(u','));
            continue;
        }
        ASSERT_EQ(stored, QStringList{QLatin1String(row.name)});
        EXPECT_EQ(sha256OfFile(QDir(inbox).filePath(stored.first())), sha);
        const QJsonObject receipt = QJsonDocument::fromJson(received.out).object();
        EXPECT_EQ(receipt.value("bytes").toInteger(), 3 << 20);
        EXPECT_EQ(QJsonDocument::fromJson(sent.out).object().value("sent").toString(), archive);
        if (QByteArray(row.sendErr) == "code ") {
            // Both printed the same code.
            const qsizetype at = sent.err.indexOf("code ");
            EXPECT_TRUE(received.err.contains(sent.err.mid(at, 12))) << received.err.constData();
        }
    }
}

} // namespace
