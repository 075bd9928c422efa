// The wireless commands' own checks: arguments, files, a machine with no DNS-SD responder,
// and what `receive` does with the names it is sent (against a sender in this process, over
// in-process discovery). Transfers between the two commands as separate processes run in the
// network namespace test (tests/peer/netns).
#include "TestSupport.h"
#include "multipeer/ZNFWirelessSender.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "tools/ZNFCommandLine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <cstdio>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

// Runs a command with stderr captured.
struct Captured {
    int status = -1;
    QByteArray err;
    qint64 ms = 0;
};

Captured run(const std::function<int()>& command) {
    QTemporaryFile file;
    file.open();
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    const int status = command();
    const qint64 ms = clock.elapsed();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    return {status, readFile(file.fileName()), ms};
}

class WirelessCommands : public ::testing::Test {
protected:
    void SetUp() override { ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::DnsSd); }
    ScopedHome home;
};

TEST_F(WirelessCommands, SendNeedsAnArchiveAndReceiveAFolder) {
    const QString file = home.root() + "/plain-file";
    writeFile(file, "x");
    const struct {
        const char* what;
        bool send;
        QStringList arguments;
        const char* err;
    } rows[] = {
        // clang-format off
        {"send, nothing converted", true, {}, "no archive to send"},
        {"send, a missing file", true, {file + ".notebackup"}, "cannot read the archive"},
        {"send, two archives", true, {"a", "b"}, "usage"},
        {"receive, no folder", false, {}, "usage: notecrate receive"},
        {"receive, a file", false, {file}, "cannot use"},
        {"receive, a mistyped option", false, {"--yse", "inbox"}, "unknown option --yse"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Captured result = run([&] { return (row.send ? ZNFRunSend : ZNFRunReceive)(row.arguments); });
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.contains(row.err)) << result.err.constData();
    }
}

TEST_F(WirelessCommands, BothSayAtOnceThatDiscoveryIsUnavailableWithoutAResponder) {
    const QString archive = home.caches() + "/Vesper_to_Tessanote.notebackup";
    writeFile(archive, "zip");
    auto sent = run([] { return ZNFRunSend({}); }); // finds the converted archive itself
    if (sent.status != 1 || !sent.err.contains("discovery is unavailable"))
        GTEST_SKIP() << "a DNS-SD responder seems to be running here: " << sent.err.constData();
    EXPECT_TRUE(sent.err.contains("-65537")) << sent.err.constData();
    EXPECT_LT(sent.ms, 2000);
    auto received = run([&] { return ZNFRunReceive({home.root() + "/inbox"}); });
    EXPECT_EQ(received.status, 1);
    EXPECT_TRUE(received.err.contains("notecrate: discovery is unavailable")) << received.err.constData();
    EXPECT_LT(received.ms, 2000);
}

TEST_F(WirelessCommands, ReceiveNeverOverwritesAndRefusesNamesNoFileShouldCarry) {
    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
    const QString inbox = home.root() + "/inbox";
    const QString archive = home.root() + "/archive.zip";
    const QByteArray bytes("the archive");
    writeFile(archive, bytes);
    const QString taken = "Vesper_to_Tessanote.notebackup";
    constexpr QFileDevice::Permissions kEveryoneElse =
        QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    const struct {
        const char* what;
        QString name;
        QStringList existing;
        QString storedAs; // empty: refused
        bool firstInvitationFails = false;
        bool yes = false;        // receive --yes
        bool newDevices = false; // two devices never seen by each other
    } cases[] = {
        // clang-format off
        {"a name that is free, a new peer confirmed with --yes", taken, {}, taken, false, true},
        {"a remembered peer needs no --yes", taken, {taken}, "Vesper_to_Tessanote (1).notebackup"},
        // receive asks again, after a short wait, a computer it could not reach.
        {"the first invitation fails", taken, {}, taken, true},
        {"a name that is taken, and its first number too", taken,
         {taken, "Vesper_to_Tessanote (1).notebackup"}, "Vesper_to_Tessanote (2).notebackup"},
        {"double dots inside", "My..notes.notebackup", {}, "My..notes.notebackup"},
        // clang-format on
        // Each kind of name no file may carry has its row in the peer layer's table
        // (tests/peer/badinput.cpp); here what receive reports for one.
        {"hidden file", ".notebackup", {}, {}},
        {"path", "../escape.notebackup", {}, {}},
        // Last: two other devices from here on.
        {"a new peer without --yes or a terminal", taken, {}, {}, false, false, true},
    };
    // Two devices in one process: each side reads its own identity and remembered peers.
    std::vector<std::unique_ptr<QTemporaryDir>> senderConfigs, receiverConfigs;
    senderConfigs.push_back(std::make_unique<QTemporaryDir>());
    receiverConfigs.push_back(std::make_unique<QTemporaryDir>());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.newDevices) {
            senderConfigs.push_back(std::make_unique<QTemporaryDir>());
            receiverConfigs.push_back(std::make_unique<QTemporaryDir>());
        }
        qputenv("XDG_CONFIG_HOME", senderConfigs.back()->path().toLocal8Bit());
        QDir(inbox).removeRecursively();
        for (const QString& name : c.existing)
            writeFile(QDir(inbox).filePath(name), "older");
        ZNFWirelessSender sender;
        std::optional<ZNFPeerError> sent;
        std::vector<qint64> progressed;
        QObject::connect(&sender, &ZNFWirelessSender::progressed,
                         [&](qint64 done, qint64) { progressed.push_back(done); });
        QObject::connect(&sender, &ZNFWirelessSender::finished,
                         [&](const ZNFPeerID&, const ZNFPeerError& error) { sent = error; });
        QObject::connect(&sender, &ZNFWirelessSender::confirmationNeeded, [&] { sender.confirm(); });
        ASSERT_TRUE(sender.start(archive, c.name));
        qputenv("XDG_CONFIG_HOME", receiverConfigs.back()->path().toLocal8Bit());
        if (c.firstInvitationFails) {
            // No link may be made for a moment: the first invitation fails on the spot.
            ZNFPeerLimits::current().maxLinksPerSession = 0;
            QTimer::singleShot(200, [] { ZNFPeerLimits::current() = ZNFPeerLimits(); });
        }
        const auto received = run([&] {
            return ZNFRunReceive(c.yes ? QStringList{"--yes", inbox} : QStringList{inbox});
        });
        ASSERT_TRUE(waitUntil([&] { return sent.has_value(); }));
        const QStringList files = QDir(inbox).entryList(QDir::Files | QDir::Hidden | QDir::System);
        const bool stored = !c.storedAs.isEmpty() && !c.newDevices;
        const char* why = c.newDevices ? "refused, a new peer needs a terminal to confirm the code, or --yes"
                          : stored     ? ""
                                       : "refusing the resource name";
        EXPECT_EQ(received.status, stored ? 0 : 1) << received.err.constData();
        EXPECT_TRUE(received.err.contains(why)) << received.err.constData();
        EXPECT_EQ(sent->isNull(), stored) << qPrintable(sent->description());
        EXPECT_TRUE(c.newDevices || stored || sent->code() == ZNFPeerError::InvalidName);
        EXPECT_EQ(readFile(QDir(inbox).filePath(c.storedAs)), stored ? bytes : QByteArray());
        if (stored) {
            // What was received is private.
            EXPECT_EQ(QFileInfo(QDir(inbox).filePath(c.storedAs)).permissions() & kEveryoneElse,
                      QFileDevice::Permissions());
            // Progress comes in order and reaches the whole archive.
            EXPECT_TRUE(std::is_sorted(progressed.begin(), progressed.end()));
            EXPECT_EQ(progressed.empty() ? -1 : progressed.back(), bytes.size());
        }
        for (const QString& name : c.existing)
            EXPECT_EQ(readFile(QDir(inbox).filePath(name)), QByteArray("older"));
        EXPECT_EQ(files.size(), c.existing.size() + (stored ? 1 : 0)) << qPrintable(files.join(u','));
    }
}

} // namespace
