// The wireless commands' own checks, which need no peer: arguments, files, and a machine
// with no DNS-SD responder. Transfers between the two commands run in the network namespace
// test (tests/peer/netns).
#include "TestSupport.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "tools/ZNFCommandLine.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Runs a command with stderr captured.
struct Captured {
    int status = -1;
    QByteArray err;
    qint64 ms = 0;
};

Captured run(const std::function<int()>& command) {
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("stderr")));
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    FILE* file = std::fopen(path.constData(), "w");
    ::dup2(::fileno(file), STDERR_FILENO);
    QElapsedTimer clock;
    clock.start();
    Captured result;
    result.status = command();
    result.ms = clock.elapsed();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::fclose(file);
    result.err = readFile(QString::fromLocal8Bit(path));
    return result;
}

class WirelessCommands : public ::testing::Test {
protected:
    void SetUp() override { ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::DnsSd); }
    ScopedHome home;
};

TEST_F(WirelessCommands, SendNeedsAnArchive) {
    auto none = run([] { return ZNFRunSend({}); });
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.err.contains("no archive to send")) << none.err.constData();
    auto missing = run([&] { return ZNFRunSend({home.root() + QStringLiteral("/nope.notebackup")}); });
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("cannot read the archive")) << missing.err.constData();
    auto extra = run([] { return ZNFRunSend({QStringLiteral("a"), QStringLiteral("b")}); });
    EXPECT_EQ(extra.status, 1);
    EXPECT_TRUE(extra.err.contains("usage")) << extra.err.constData();
}

TEST_F(WirelessCommands, ReceiveNeedsAFolder) {
    auto none = run([] { return ZNFRunReceive({}); });
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(none.err.contains("usage: notecrate receive DIR"));
    const QString file = home.root() + QStringLiteral("/plain-file");
    writeFile(file, "x");
    auto notDir = run([&] { return ZNFRunReceive({file}); });
    EXPECT_EQ(notDir.status, 1);
    EXPECT_TRUE(notDir.err.contains("cannot use")) << notDir.err.constData();
}

TEST_F(WirelessCommands, BothSayAtOnceThatDiscoveryIsUnavailableWithoutAResponder) {
    const QString archive = home.caches() + QStringLiteral("/Vesper_to_Tessanote.notebackup");
    writeFile(archive, "zip");
    auto sent = run([] { return ZNFRunSend({}); }); // finds the converted archive itself
    if (sent.status != 1 || !sent.err.contains("discovery is unavailable"))
        GTEST_SKIP() << "a DNS-SD responder seems to be running here: " << sent.err.constData();
    EXPECT_TRUE(sent.err.contains("-65537")) << sent.err.constData();
    EXPECT_LT(sent.ms, 2000);
    auto received = run([&] { return ZNFRunReceive({home.root() + QStringLiteral("/inbox")}); });
    EXPECT_EQ(received.status, 1);
    EXPECT_TRUE(received.err.contains("notecrate: discovery is unavailable")) << received.err.constData();
    EXPECT_LT(received.ms, 2000);
}

} // namespace
