// Discovery through a real DNS-SD responder, end to end. CliRun by ctest through
// scripts/netns-run.sh, which gives this program a network namespace of its own with only
// the loopback interface, a dbus-daemon and an avahi-daemon.
#include "TestSupport.h"
#include "peer/support/PeerTestSupport.h"

#include <QDir>
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
    PeerPair pair("nc-e2e", ZNFPeerDiscovery::Backend::DnsSd);
    ASSERT_TRUE(pair.connect(10)) << qPrintable(pair.advertiser->startError().message())
                                  << qPrintable(pair.browser->startError().message());
    EXPECT_EQ(pair.browsing->found().first().displayName(), "Host Computer");
    EXPECT_EQ(pair.browsing->infoOf(pair.hostID).value("host"), "test box");
    EXPECT_EQ(pair.answering->lastContext(), QByteArray("hello"));
    // Hostile and silent connections to the port are tests/peer/badinput.cpp's rows: the
    // advertiser's port does not depend on how it is announced.

    QTemporaryDir dir;
    const QString path = dir.filePath("fifty.notebackup");
    const QByteArray sha = writePatternFile(path, 50ll << 20, 50);
    const ZNFPeerError error = pair.sendAndWait(path);
    EXPECT_TRUE(error.isNull()) << qPrintable(error.description());
    ASSERT_EQ(pair.guestEvents->finished().size(), 1u);
    const auto got = pair.guestEvents->finished().front(); // the stored file, as the receiver saw it
    EXPECT_EQ(std::tuple(got.error.code(), got.size, got.sha256),
              std::tuple(ZNFPeerError::None, 50ll << 20, sha));

    // Gone from the network once it stops.
    pair.advertiser->stopAdvertisingPeer();
    EXPECT_TRUE(waitUntil([&] { return pair.browsing->lost().contains(pair.hostID); }, 10000));
}

// Each command as a device of its own: its own identity and remembered peers.
struct Cli {
    Cli(const QStringList& arguments, const QString& config, bool plain = false) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", config);
        if (plain)
            environment.insert("NOTECRATE_PEER_ENCRYPTION", "none");
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(NOTECRATE_CLI), arguments);
    }
    // Its exit code once it ended, -1 when it had to be stopped; what it printed into out and err.
    int finish(int timeoutMs = 30000) {
        if (!process.waitForFinished(timeoutMs))
            process.kill(), process.waitForFinished(2000);
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QProcess process;
    QByteArray out, err;
};

// `send` and `receive` as two processes, row after row with the same two devices: a new peer
// needs --yes (no terminal here) on each side, a remembered one nothing, and a name no file
// may carry is refused. Both commands on one computer with one config folder, as the README
// has a new user try it, are two devices too; plain frames pass between processes as well.
TEST_F(NetnsTest, SendAndReceiveCommandsBetweenProcesses) {
    ScopedHome home;
    QTemporaryDir dir, senderConfig, receiverConfig, oneComputer, plainSender, plainReceiver;
    const QString inbox = dir.filePath("inbox");
    const QString yes = "--yes";
    const struct {
        const char* what;
        const char* name;
        QStringList sendFlags, receiveFlags;
        int sendExit, receiveExit;
        const char* sendErr;
        const char* receiveErr;
        bool sameConfig = false; // both commands with one $XDG_CONFIG_HOME
        bool plain = false;      // NOTECRATE_PEER_ENCRYPTION=none on both sides
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
        {"one computer, one config folder", "b.notebackup", {yes}, {yes}, 0, 0, "code ", "code ", true},
        {"plain frames", "c.notebackup", {}, {}, 0, 0, "NOT encrypted", "NOT encrypted", false, true},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QDir(inbox).removeRecursively();
        const QString archive = dir.filePath(QLatin1String(row.name));
        const QByteArray sha = writePatternFile(archive, 3 << 20, 7);
        const QString receiverFolder = row.sameConfig ? oneComputer.path()
                                       : row.plain    ? plainReceiver.path()
                                                      : receiverConfig.path();
        const QString senderFolder = row.sameConfig ? oneComputer.path()
                                     : row.plain    ? plainSender.path()
                                                    : senderConfig.path();
        Cli receiver(QStringList{"receive"} + row.receiveFlags + QStringList{inbox}, receiverFolder,
                     row.plain);
        Cli sender(QStringList{"send"} + row.sendFlags + QStringList{archive}, senderFolder, row.plain);
        EXPECT_EQ(sender.finish(), row.sendExit) << sender.err.constData();
        // A receiver whose computer refused it keeps asking: it is stopped here.
        EXPECT_EQ(receiver.finish(row.receiveExit < 0 ? 3000 : 30000), row.receiveExit)
            << receiver.err.constData();
        EXPECT_TRUE(sender.err.contains(row.sendErr)) << sender.err.constData();
        EXPECT_TRUE(receiver.err.contains(row.receiveErr)) << receiver.err.constData();
        const QStringList stored = QDir(inbox).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        if (row.receiveExit != 0) {
            EXPECT_TRUE(stored.isEmpty()) << qPrintable(stored.join(u','));
            continue;
        }
        EXPECT_EQ(stored, QStringList{QLatin1String(row.name)});
        if (stored.size() != 1)
            continue;
        EXPECT_EQ(sha256OfFile(QDir(inbox).filePath(stored.first())), sha);
        // What was received is private.
        constexpr int kOwnerGroupOther = 0x7077; // not the effective user's bits, which repeat one of these
        EXPECT_EQ(int(QFileInfo(QDir(inbox).filePath(stored.first())).permissions()) & kOwnerGroupOther,
                  int(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        EXPECT_EQ(QJsonDocument::fromJson(receiver.out).object().value("bytes").toInteger(), 3 << 20);
        EXPECT_EQ(QJsonDocument::fromJson(sender.out).object().value("sent").toString(), archive);
        if (QByteArray(row.sendErr) == "code ") {
            // Both printed the same code.
            const qsizetype at = sender.err.indexOf("code ");
            EXPECT_TRUE(receiver.err.contains(sender.err.mid(at, 12))) << receiver.err.constData();
        }
    }
}

} // namespace
