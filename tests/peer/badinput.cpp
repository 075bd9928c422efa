// Hostile or broken peers, played by raw sockets: nothing crashes, nothing is written where
// it does not belong, each fault is reported through the handler that owns it, and the
// session goes on working.
#include "TestSupport.h"
#include "peer/support/PeerTestSupport.h"
#include "platform/peer/ZNFSha256.h"

#include <QDir>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
        hostSession = ZNFPeerSession::create(hostID);
        hostSession->setDelegate(events);
        answering = std::make_shared<AnsweringAdvertiser>(AnsweringAdvertiser::Mode::Accept, hostSession);
        advertiser = ZNFPeerAdvertiser::create(hostID, {}, QStringLiteral("nc-bad"));
        advertiser->setDelegate(answering);
        advertiser->startAdvertisingPeer();
        ASSERT_TRUE(advertiser->startError().isNull());
        tempsBefore = layerTemporaryFiles();
    }
    void TearDown() override {
        advertiser->stopAdvertisingPeer();
        hostSession->disconnect();
    }

    std::unique_ptr<QTcpSocket> connectRaw() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, advertiser->port());
        EXPECT_TRUE(socket->waitForConnected(2000));
        return socket;
    }

    // A raw peer that the host has accepted into its session.
    std::unique_ptr<QTcpSocket> acceptedRaw(const ZNFPeerID& as) {
        auto socket = connectRaw();
        socket->write(rawInvite(as.uniqueID(), as.displayName()));
        quint8 type = 0;
        QByteArray payload;
        EXPECT_TRUE(readRawFrame(*socket, &type, &payload));
        EXPECT_EQ(type, 2); // accepted
        EXPECT_TRUE(waitUntil([&] { return hostSession->connectedPeers().contains(as); }));
        return socket;
    }

    std::vector<RecordingSession::Finished> finishedFrom(const ZNFPeerID& peer) {
        std::vector<RecordingSession::Finished> result;
        for (const auto& f : events->finished())
            if (f.peer == peer)
                result.push_back(f);
        return result;
    }

    // The whole session still works: a fresh peer is accepted and its resource stored.
    void expectSessionStillUsable() {
        const ZNFPeerID fresh(QStringLiteral("Fresh"));
        auto socket = acceptedRaw(fresh);
        const QByteArray body("still working");
        socket->write(
            rawFrame(5, rawU32(1) + rawString(QStringLiteral("ok.txt")) + rawU64(quint64(body.size()))));
        socket->write(rawFrame(6, rawU32(1) + body));
        socket->write(rawFrame(7, rawU32(1) + ZNFSha256::hash(body)));
        quint8 type = 0;
        QByteArray payload;
        ASSERT_TRUE(readRawFrame(*socket, &type, &payload));
        EXPECT_EQ(type, 8);
        EXPECT_EQ(payload.mid(4, 4), rawU32(0)); // stored
        EXPECT_EQ(payload.mid(16), ZNFSha256::hash(body));
        ASSERT_EQ(finishedFrom(fresh).size(), 1u);
        EXPECT_TRUE(finishedFrom(fresh).front().error.isNull());
    }

    ScopedTemporaryFolder temporary;
    ScopedFastLimits fast;
    ZNFPeerID hostID{QStringLiteral("Host")};
    std::shared_ptr<ZNFPeerSession> hostSession;
    std::shared_ptr<RecordingSession> events = std::make_shared<RecordingSession>();
    std::shared_ptr<AnsweringAdvertiser> answering;
    std::shared_ptr<ZNFPeerAdvertiser> advertiser;
    QStringList tempsBefore;
};

TEST_F(BadInput, ConnectionsThatDoNotInviteProperlyAreClosedUnanswered) {
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"frame over the size limit", rawU32(0xFFFFFFF0u) + QByteArray(1, char(1))},
        {"garbage", QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n")},
        {"unknown frame type", rawFrame(77, QByteArray("hi"))},
        {"data before an invitation", rawFrame(4, QByteArray("hi"))},
        {"cut-off invitation", rawFrame(1, QByteArray(1, char(1)) + rawU32(500) + "abc")},
        {"invitation of another version",
         rawFrame(1, QByteArray(1, char(9)) + rawString("id") + rawString("n") + QByteArray(1, char(0)) +
                         rawU32(0))},
        {"invitation without an id", rawInvite(QString(), QStringLiteral("x"))},
        {"invitation name that is not UTF-8",
         rawFrame(1, QByteArray(1, char(1)) + rawString("id") + rawU32(2) + "\xc3\x28" +
                         QByteArray(1, char(0)) + rawU32(0))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto socket = connectRaw();
        socket->write(c.bytes);
        EXPECT_TRUE(waitClosed(*socket, 2000));
    }
    EXPECT_EQ(answering->invitations(), 0);
    EXPECT_TRUE(events->states().empty());
    expectSessionStillUsable();
}

TEST_F(BadInput, IdleConnectionsAreBoundedAndClosedAfterTheHandshakeTime) {
    ZNFPeerLimits::current().handshakeTimeoutMs = 1500;
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < ZNFPeerLimits::current().maxPendingConnections; ++i)
        idle.push_back(connectRaw());
    waitUntil([] { return false; }, 100); // let the advertiser take them all
    auto extra = connectRaw();
    EXPECT_TRUE(waitClosed(*extra, 1000)); // turned away at once
    for (auto& socket : idle)
        EXPECT_EQ(socket->state(), QAbstractSocket::ConnectedState);
    for (auto& socket : idle)
        EXPECT_TRUE(waitClosed(*socket, 5000));
    expectSessionStillUsable();
}

TEST_F(BadInput, ProtocolFaultsFromAConnectedPeerEndOnlyThatPeer) {
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"frame over the size limit", rawU32(quint32(ZNFPeerLimits::current().maxFramePayload + 1)) + "\x04"},
        {"unknown frame type", rawFrame(99, QByteArray("x"))},
        {"second acceptance", rawFrame(2, rawString("id") + rawString("n"))},
        {"chunk of an unknown resource", rawFrame(6, rawU32(9) + "abc")},
        {"end of an unknown resource", rawFrame(7, rawU32(9) + QByteArray(32, 0))},
        {"malformed announcement", rawFrame(5, rawU32(1) + rawU32(1000))},
        {"name over the limit",
         rawFrame(5, rawU32(1) + rawString(QString(2000, QLatin1Char('n'))) + rawU64(1))},
        {"result for nothing sent", rawFrame(8, rawU32(4) + rawU32(0) + rawU64(0) + QByteArray(32, 0))},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ZNFPeerID raw(QStringLiteral("Raw %1").arg(++n));
        auto socket = acceptedRaw(raw);
        socket->write(c.bytes);
        EXPECT_TRUE(waitClosed(*socket, 2000));
        EXPECT_TRUE(
            waitUntil([&] { return !events->statesOf(raw).empty() && events->statesOf(raw).back() == 0; }));
        EXPECT_FALSE(hostSession->connectedPeers().contains(raw));
    }
    expectSessionStillUsable();
    EXPECT_EQ(layerTemporaryFiles(), tempsBefore);
}

TEST_F(BadInput, ResourcesThatDoNotMatchFailAloneAndLeaveNoFile) {
    const ZNFPeerID raw(QStringLiteral("Raw"));
    auto socket = acceptedRaw(raw);
    const QByteArray ten("0123456789");
    quint8 type = 0;
    QByteArray payload;
    auto expectResult = [&](quint32 id, ZNFPeerError::Code code) {
        ASSERT_TRUE(readRawFrame(*socket, &type, &payload));
        EXPECT_EQ(type, 8);
        EXPECT_EQ(payload.left(4), rawU32(id));
        EXPECT_EQ(payload.mid(4, 4), rawU32(quint32(code)));
    };

    // Bytes that do not hash to what the sender said.
    socket->write(rawFrame(5, rawU32(1) + rawString("a") + rawU64(10)) + rawFrame(6, rawU32(1) + ten) +
                  rawFrame(7, rawU32(1) + QByteArray(32, 0)));
    expectResult(1, ZNFPeerError::HashMismatch);
    // Fewer bytes than announced.
    socket->write(rawFrame(5, rawU32(2) + rawString("b") + rawU64(10)) +
                  rawFrame(6, rawU32(2) + ten.left(5)) +
                  rawFrame(7, rawU32(2) + ZNFSha256::hash(ten.left(5))));
    expectResult(2, ZNFPeerError::SizeMismatch);
    // More bytes than announced; what follows for it is ignored.
    socket->write(rawFrame(5, rawU32(3) + rawString("c") + rawU64(4)) + rawFrame(6, rawU32(3) + ten) +
                  rawFrame(6, rawU32(3) + ten) + rawFrame(7, rawU32(3) + ZNFSha256::hash(ten)));
    expectResult(3, ZNFPeerError::SizeMismatch);
    // The sender gives up part way.
    socket->write(rawFrame(5, rawU32(5) + rawString("d") + rawU64(10)) +
                  rawFrame(6, rawU32(5) + ten.left(3)) + rawFrame(9, rawU32(5)));

    ASSERT_TRUE(waitUntil([&] { return finishedFrom(raw).size() == 4; }));
    const auto finished = finishedFrom(raw);
    const ZNFPeerError::Code expected[] = {ZNFPeerError::HashMismatch, ZNFPeerError::SizeMismatch,
                                           ZNFPeerError::SizeMismatch, ZNFPeerError::Cancelled};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(finished[i].error.code(), expected[i]) << i;
        EXPECT_TRUE(finished[i].path.isEmpty()) << i; // no file handed out
    }
    EXPECT_EQ(layerTemporaryFiles(), tempsBefore);
    EXPECT_TRUE(hostSession->connectedPeers().contains(raw)); // the link itself is fine

    // Names are labels, never paths: whatever they say, the bytes land in a file of the layer's own.
    const QString names[] = {QStringLiteral("../../escape"), QStringLiteral("a\\b"),
                             QString::fromUtf8("nul\0here", 8), QStringLiteral("/etc/passwd"),
                             QString(300, QLatin1Char('x'))};
    quint32 id = 10;
    for (const QString& name : names) {
        socket->write(rawFrame(5, rawU32(id) + rawString(name) + rawU64(10)) + rawFrame(6, rawU32(id) + ten) +
                      rawFrame(7, rawU32(id) + ZNFSha256::hash(ten)));
        expectResult(id, ZNFPeerError::None);
        ++id;
    }
    const auto stored = finishedFrom(raw);
    ASSERT_EQ(stored.size(), 9u);
    for (size_t i = 4; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].name, names[i - 4]);
        EXPECT_TRUE(stored[i].error.isNull());
        EXPECT_EQ(QFileInfo(stored[i].path).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
        EXPECT_TRUE(QFileInfo(stored[i].path).fileName().startsWith(QLatin1String("notecrate-resource-")));
        EXPECT_EQ(stored[i].sha256, ZNFSha256::hash(ten));
    }
    EXPECT_EQ(layerTemporaryFiles(), tempsBefore);
}

TEST_F(BadInput, APeerThatVanishesMidTransferLeavesNoPartialFile) {
    const ZNFPeerID raw(QStringLiteral("Raw"));
    auto socket = acceptedRaw(raw);
    socket->write(rawFrame(5, rawU32(1) + rawString("big") + rawU64(1 << 20)) +
                  rawFrame(6, rawU32(1) + QByteArray(1000, 'z')));
    ASSERT_TRUE(waitUntil([&] {
        auto p = events->lastProgress();
        return p && p->completedUnitCount() == 1000;
    }));
    socket->abort();
    ASSERT_TRUE(waitUntil([&] { return finishedFrom(raw).size() == 1; }));
    EXPECT_EQ(finishedFrom(raw).front().error.code(), ZNFPeerError::ConnectionLost);
    EXPECT_TRUE(waitUntil([&] { return events->statesOf(raw).back() == 0; }));
    EXPECT_EQ(layerTemporaryFiles(), tempsBefore);
    expectSessionStillUsable();
}

// A receiver that does not confirm what was sent must not make the sender report success.
TEST(BadReceiver, AWrongConfirmationIsAFailureForTheSender) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    auto session = ZNFPeerSession::create(ZNFPeerID(QStringLiteral("Sender")));
    auto events = std::make_shared<RecordingSession>();
    session->setDelegate(events);
    session->connectToPeer(ZNFPeerID(), QHostAddress::LocalHost, server.serverPort(), {}, 5);
    ASSERT_TRUE(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
    quint8 type = 0;
    QByteArray payload;
    ASSERT_TRUE(readRawFrame(*socket, &type, &payload));
    ASSERT_EQ(type, 1);
    const ZNFPeerID fake(QStringLiteral("Fake"));
    socket->write(rawFrame(2, rawString(fake.uniqueID()) + rawString(fake.displayName())));
    ASSERT_TRUE(waitUntil([&] { return session->connectedPeers().contains(fake); }));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file"));
    const QByteArray sha = writePatternFile(path, 100000);
    const struct {
        const char* what;
        std::function<QByteArray(quint32 id)> reply;
        ZNFPeerError::Code expected;
    } cases[] = {
        {"other bytes",
         [](quint32 id) { return rawU32(id) + rawU32(0) + rawU64(100000) + QByteArray(32, 'x'); },
         ZNFPeerError::HashMismatch},
        {"other size", [&](quint32 id) { return rawU32(id) + rawU32(0) + rawU64(99999) + sha; },
         ZNFPeerError::SizeMismatch},
        {"could not store",
         [&](quint32 id) { return rawU32(id) + rawU32(ZNFPeerError::FileError) + rawU64(0) + sha; },
         ZNFPeerError::FileError},
        {"stored", [&](quint32 id) { return rawU32(id) + rawU32(0) + rawU64(100000) + sha; },
         ZNFPeerError::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CompletionProbe probe;
        session->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("file"), fake, probe.callback());
        quint32 id = 0;
        QByteArray digest;
        do {
            ASSERT_TRUE(readRawFrame(*socket, &type, &payload));
            id = qFromBigEndian<quint32>(payload.constData());
            if (type == 7)
                digest = payload.mid(4);
        } while (type != 7);
        EXPECT_EQ(digest, sha);
        EXPECT_EQ(probe.calls(), 0); // nothing is reported before the receiver answers
        socket->write(rawFrame(8, c.reply(id)));
        ASSERT_TRUE(probe.wait());
        EXPECT_EQ(probe.error().code(), c.expected);
    }
    session->disconnect();
}

} // namespace
