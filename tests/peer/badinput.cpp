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

using Frame = ZNFPeerFrame::Type;

// Only the pair's host side: the guests are raw sockets. Its limits are small from the start.
class BadInput : public ::testing::Test, ScopedFastLimits, protected PeerPair {
protected:
    BadInput() : PeerPair("nc-bad") {}
    void SetUp() override {
        advertiser->startAdvertisingPeer();
        ASSERT_TRUE(advertiser->startError().isNull());
    }

    std::unique_ptr<QTcpSocket> connectRaw(const QHostAddress& source = {}) {
        auto socket = ::connectRaw(advertiser->port(), source);
        EXPECT_EQ(socket->state(), QAbstractSocket::ConnectedState);
        return socket;
    }

    // A raw peer that the host has accepted into its session.
    std::unique_ptr<QTcpSocket> acceptedRaw(const ZNFPeerID& as, const QHostAddress& source = {}) {
        auto socket = connectRaw(source);
        socket->write(rawInvite(as.uniqueID(), as.displayName()));
        EXPECT_EQ(nextFrame(*socket), Frame::Accept);
        EXPECT_TRUE(waitUntil([&] { return hostSession->connectedPeers().contains(as); }));
        return socket;
    }

    std::vector<RecordingSession::Finished> finishedFrom(const ZNFPeerID& peer) {
        std::vector<RecordingSession::Finished> result;
        for (const auto& f : hostEvents->finished())
            if (f.peer == peer)
                result.push_back(f);
        return result;
    }

    // The whole session still works: a fresh peer is accepted and its resource stored.
    void expectSessionStillUsable() {
        const ZNFPeerID fresh("Fresh");
        auto socket = acceptedRaw(fresh);
        const QByteArray body("still working");
        socket->write(rawBegin(1, "ok.txt", quint64(body.size())) + rawChunk(1, body) +
                      rawEnd(1, ZNFSha256::hash(body)));
        QByteArray payload;
        ASSERT_EQ(nextFrame(*socket, &payload), Frame::ResourceResult);
        EXPECT_EQ(rawFrame(Frame::ResourceResult, payload),
                  rawResult(1, ZNFPeerError::None, body.size(), ZNFSha256::hash(body)));
        ASSERT_EQ(finishedFrom(fresh).size(), 1u);
        EXPECT_TRUE(finishedFrom(fresh).front().error.isNull());
    }
};

TEST_F(BadInput, ConnectionsThatDoNotInviteProperlyAreClosedWithoutTouchingOthers) {
    const ZNFPeerID phone("Phone");
    auto phoneSocket = acceptedRaw(phone);
    const struct {
        const char* what;
        QByteArray bytes;
        quint8 answer; // the frame the connection gets before it is closed, if any
    } cases[] = {
        {"frame over the size limit", rawU32(0xFFFFFFF0u) + QByteArray(1, char(Frame::Invite)), 0},
        {"garbage", QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n"), 0},
        {"unknown frame type", rawFrame(77, QByteArray("hi")), 0},
        {"data before an invitation", rawFrame(Frame::Data, QByteArray("hi")), 0},
        {"cut-off invitation", rawFrame(Frame::Invite, QByteArray(1, char(1)) + rawU32(500) + "abc"), 0},
        // clang-format off
        {"invitation of another version", rawFrame(Frame::Invite, QByteArray(1, char(9)) + rawString("id") +
                                              rawString("n") + QByteArray(1, char(0)) + rawU32(0)), 0},
        {"invitation without an id", rawInvite(QString(), "x"), 0},
        {"invitation name that is not UTF-8", rawFrame(Frame::Invite, QByteArray(1, char(1)) + rawString("id") +
                                                  rawU32(2) + "\xc3\x28" + QByteArray(1, char(0)) + rawU32(0)), 0},
        // Reaches the delegate, which accepts; the session still turns it away.
        {"second link claiming a connected peer's id", rawInvite(phone.uniqueID(), "Phone"), Frame::Decline},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto socket = connectRaw();
        socket->write(c.bytes);
        if (c.answer) {
            EXPECT_EQ(nextFrame(*socket), c.answer);
        }
        EXPECT_TRUE(waitClosed(*socket, 2000));
    }
    EXPECT_EQ(answering->invitations(), 2);
    // The real phone's link and state never heard of the impostor.
    EXPECT_EQ(hostEvents->statesOf(phone), (std::vector<PeerState>{kConnecting, kConnected}));
    EXPECT_TRUE(hostSession->connectedPeers().contains(phone));
    expectSessionStillUsable();
}

TEST_F(BadInput, IdleSocketsCannotKeepAPhoneOutAndLinksAreBounded) {
    ZNFPeerLimits& limits = ZNFPeerLimits::current();
    limits.handshakeTimeoutMs = 1500;
    limits.maxPendingPerAddress = 2;
    limits.maxPendingConnections = 3;
    limits.maxLinksPerSession = 3;
    const QHostAddress here("127.0.0.1"), other("127.0.0.2");
    auto a1 = connectRaw(here);
    auto a2 = connectRaw(here);
    auto b1 = connectRaw(other);
    waitUntil([] { return false; }, 100); // let the advertiser take them all
    // Every slot is taken by a silent socket: the phone still gets in, and the oldest silent
    // socket from its address makes room.
    const ZNFPeerID phone("Phone");
    auto phoneSocket = acceptedRaw(phone, here);
    EXPECT_TRUE(waitClosed(*a1, 1000));
    EXPECT_EQ(a2->state(), QAbstractSocket::ConnectedState);
    // Full again; from another address the advertiser's own limit applies: the oldest of all goes.
    auto c1 = connectRaw(QHostAddress("127.0.0.4"));
    waitUntil([] { return false; }, 100);
    const ZNFPeerID tablet("Tablet");
    auto tabletSocket = acceptedRaw(tablet, QHostAddress("127.0.0.3"));
    EXPECT_TRUE(waitClosed(*a2, 1000));
    EXPECT_EQ(b1->state(), QAbstractSocket::ConnectedState);
    // What never invites is closed after the handshake time.
    EXPECT_TRUE(waitClosed(*b1, 5000));

    // Links: a third is taken, a fourth declined.
    const ZNFPeerID third("Third");
    auto thirdSocket = acceptedRaw(third);
    auto fourth = connectRaw();
    fourth->write(rawInvite(ZNFPeerID("Fourth").uniqueID(), "Fourth"));
    EXPECT_EQ(nextFrame(*fourth), Frame::Decline);
    EXPECT_TRUE(waitClosed(*fourth));
    EXPECT_EQ(hostSession->connectedPeers().size(), 3);
}

TEST_F(BadInput, ProtocolFaultsFromAConnectedPeerEndOnlyThatPeer) {
    const int tooMany = ZNFPeerLimits::current().maxIncomingTransfers + 1;
    QByteArray announcements;
    for (int i = 1; i <= tooMany; ++i)
        announcements += rawBegin(quint32(i), QStringLiteral("r%1").arg(i), 10);
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"frame over the size limit",
         rawU32(quint32(ZNFPeerLimits::current().maxFramePayload + 1)) + QByteArray(1, char(Frame::Data))},
        {"unknown frame type", rawFrame(99, QByteArray("x"))},
        {"second acceptance", rawFrame(Frame::Accept, rawString("id") + rawString("n"))},
        {"chunk of an unknown resource", rawChunk(9, "abc")},
        {"end of an unknown resource", rawEnd(9, QByteArray(ZNFPeerFrame::kDigestBytes, 0))},
        {"malformed announcement", rawFrame(Frame::ResourceBegin, rawU32(1) + rawU32(1000))},
        {"name over the limit", rawBegin(1, QString(2000, QLatin1Char('n')), 1)},
        {"announcement numbered like an earlier one", rawBegin(2, "a", 10) + rawBegin(2, "b", 10)},
        {"more resources at once than allowed", announcements},
        {"result for nothing sent",
         rawResult(4, ZNFPeerError::None, 0, QByteArray(ZNFPeerFrame::kDigestBytes, 0))},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ZNFPeerID raw(QStringLiteral("Raw %1").arg(++n));
        auto socket = acceptedRaw(raw);
        socket->write(c.bytes);
        EXPECT_TRUE(waitClosed(*socket, 2000));
        EXPECT_TRUE(waitUntil([&] {
            return hostEvents->statesOf(raw) ==
                   std::vector<PeerState>{kConnecting, kConnected, kNotConnected};
        }));
        EXPECT_FALSE(hostSession->connectedPeers().contains(raw));
    }
    expectSessionStillUsable();
    EXPECT_TRUE(layerTemporaryFiles().isEmpty());
}

// Each resource is refused or fails on its own, with the reason both sides hear, and leaves
// no file; the link stays.
TEST_F(BadInput, ResourcesThatCannotBeKeptFailAloneAndLeaveNoFile) {
    const ZNFPeerID raw("Raw");
    auto socket = acceptedRaw(raw);
    const QByteArray ten("0123456789");
    const QByteArray tenSha = ZNFSha256::hash(ten);
    const QByteArray zeros(ZNFPeerFrame::kDigestBytes, 0);
    const auto whole = [&](const QString& name) {
        return [=](quint32 id) { return rawBegin(id, name, 10) + rawChunk(id, ten) + rawEnd(id, tenSha); };
    };
    const auto refused = ZNFPeerError::InvalidName;
    const struct {
        const char* what;
        std::function<QByteArray(quint32 id)> frames;
        ZNFPeerError::Code expected; // what both sides hear
        bool answered = true;        // whether the sender is answered at all
    } cases[] = {
        // clang-format off
        {"bytes that do not hash to what the sender said",
         [&](quint32 id) { return rawBegin(id, "a", 10) + rawChunk(id, ten) + rawEnd(id, zeros); },
         ZNFPeerError::HashMismatch},
        {"fewer bytes than announced", [&](quint32 id) { return rawBegin(id, "b", 10) +
             rawChunk(id, ten.left(5)) + rawEnd(id, ZNFSha256::hash(ten.left(5))); }, ZNFPeerError::SizeMismatch},
        {"more bytes than announced, and more after that", [&](quint32 id) { return rawBegin(id, "c", 4) +
             rawChunk(id, ten) + rawChunk(id, ten) + rawEnd(id, tenSha); }, ZNFPeerError::SizeMismatch},
        {"the sender gives up part way", [&](quint32 id) { return rawBegin(id, "d", 10) +
             rawChunk(id, ten.left(3)) + rawFrame(ZNFPeerFrame::ResourceAbort, rawU32(id)); },
         ZNFPeerError::Cancelled, false},
        {"announced over the size limit", [&](quint32 id) { return rawBegin(id, "e", quint64(1) << 63); },
         ZNFPeerError::TooLarge},
        {"announced a byte over 1 TiB", [&](quint32 id) {
             return rawBegin(id, "e2", quint64(ZNFPeerLimits_maxResourceBytes) + 1); }, ZNFPeerError::TooLarge},
        // Under the cap, over what any disk here holds: the free space refuses it.
        {"announced over the free disk space", [&](quint32 id) { return rawBegin(id, "f", quint64(1) << 39); },
         ZNFPeerError::NoSpace},
        // A library of a few hundred photos is several gigabytes: taken while the disk has room.
        {"announced 5 GiB with room for it", [&](quint32 id) { return rawBegin(id, "g", quint64(5) << 30) +
             rawChunk(id, ten) + rawFrame(ZNFPeerFrame::ResourceAbort, rawU32(id)); },
         ZNFPeerError::Cancelled, false},
        // Names no file may carry are refused before a byte is kept.
        {"empty name", whole(QString()), refused}, {"dot", whole("."), refused},
        {"dot dot", whole(".."), refused}, {"path", whole("../../escape"), refused},
        {"backslash", whole("a\\b"), refused}, {"hidden file", whole(".profile"), refused},
        {"NUL", whole(QString::fromUtf8("nul\0here", 8)), refused},
        {"control character", whole("a\x01b.notebackup"), refused},
        {"escape sequence", whole("\x1b[31mred.notebackup"), refused},
        {"right-to-left override", whole(QString::fromUtf8("notes\u202Epukcabeton.exe")), refused},
        {"bidi isolate", whole(QString::fromUtf8("a\u2066b.notebackup")), refused},
        {"over 255 bytes", whole(QString(128, QChar(0xe9))), refused},
        // clang-format on
        {"double dots inside a name are fine", whole("My..notes.notebackup"), ZNFPeerError::None},
    };
    quint32 id = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t before = finishedFrom(raw).size();
        socket->write(c.frames(++id));
        if (c.answered) {
            QByteArray payload;
            ASSERT_EQ(nextFrame(*socket, &payload), Frame::ResourceResult);
            EXPECT_EQ(payload.left(8), rawU32(id) + rawU32(c.expected));
        }
        ASSERT_TRUE(waitUntil([&] { return finishedFrom(raw).size() == before + 1; }));
        const auto got = finishedFrom(raw).back();
        EXPECT_EQ(got.error.code(), c.expected);
        // A file is handed out only for a resource that was kept, and only one of the layer's own.
        EXPECT_EQ(got.path.isEmpty(), c.expected != ZNFPeerError::None);
        if (c.expected == ZNFPeerError::None) {
            EXPECT_EQ(QFileInfo(got.path).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
            EXPECT_EQ(got.sha256, tenSha);
        }
        EXPECT_TRUE(layerTemporaryFiles().isEmpty());
    }
    EXPECT_TRUE(hostSession->connectedPeers().contains(raw)); // the link itself is fine
}

// A link on which nothing moves is cut while a transfer waits on it, and only then; a peer
// that sends keepalives is not idle, and this side sends its own.
TEST_F(BadInput, LinksWhereNothingMovesAreCutOnlyWhileATransferWaits) {
    ZNFPeerLimits& limits = ZNFPeerLimits::current();
    limits.idleTimeoutMs = 600;
    limits.keepaliveIntervalMs = 100;
    QTemporaryDir dir;
    const QString big = dir.filePath("big");
    const qint64 bigSize = 48 << 20;
    writePatternFile(big, bigSize);
    const struct {
        const char* what;
        bool pushes;     // the peer starts sending us a resource, else we send one to it
        bool keepsAlive; // the peer sends keepalives and reads what comes
        bool transfer;   // a transfer is under way at all
        bool cut;
    } cases[] = {
        {"stops sending half way through its resource", true, false, true, true},
        {"stops reading what we send", false, false, true, true},
        {"sends keepalives half way through its resource", true, true, true, false},
        {"says nothing, with nothing under way", false, false, false, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ZNFPeerID raw(QStringLiteral("Raw %1").arg(++n));
        auto socket = acceptedRaw(raw);
        socket->setReadBufferSize(64 * 1024); // what it does not read stays in the kernel
        CompletionProbe probe;
        std::shared_ptr<ZNFProgress> progress;
        if (c.transfer && c.pushes)
            socket->write(rawBegin(1, "half", 100) + rawChunk(1, QByteArray(50, 'h')));
        else if (c.transfer)
            progress = hostSession->sendResourceAtURL(QUrl::fromLocalFile(big), "big", raw, probe.callback());
        bool heardKeepalive = false;
        waitUntil(
            [&] {
                if (c.keepsAlive) {
                    socket->write(rawFrame(Frame::Keepalive));
                    while (socket->bytesAvailable() >= ZNFPeerFrame::kHeaderBytes) {
                        QByteArray payload;
                        heardKeepalive |= nextFrame(*socket, &payload) == Frame::Keepalive;
                    }
                }
                return !hostSession->connectedPeers().contains(raw);
            },
            limits.idleTimeoutMs * 3);
        EXPECT_EQ(!hostSession->connectedPeers().contains(raw), c.cut);
        EXPECT_EQ(heardKeepalive, c.keepsAlive);
        if (c.cut && c.pushes) {
            ASSERT_TRUE(waitUntil([&] { return finishedFrom(raw).size() == 1; }));
            EXPECT_EQ(finishedFrom(raw).front().error.code(), ZNFPeerError::TimedOut);
        }
        if (c.cut && !c.pushes) {
            ASSERT_TRUE(probe.wait());
            EXPECT_EQ(probe.error().code(), ZNFPeerError::TimedOut);
            // What we read of the file waited for the socket: a peer that never reads holds
            // a bounded part of it, not all of it.
            EXPECT_LT(progress->completedUnitCount(), bigSize / 2);
        }
        socket->abort();
    }
    EXPECT_TRUE(layerTemporaryFiles().isEmpty());
}

// A peer that never reads holds at most the write high water of ours (plus what the kernel
// buffers), however fast we offer frames, and on a TLS link as well: its records waiting to
// go out count as much as the bytes not yet encrypted.
TEST(BadReader, AStalledPeerHoldsOnlyTheHighWaterOfOurQueue) {
    const ZNFPeerLimits& limits = ZNFPeerLimits::current();
    const QByteArray chunk(limits.chunkBytes, 'c');
    const qint64 offered = qint64(64) << 20; // far past what the kernel buffers on loopback
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "TLS" : "plain");
        auto server = listenRaw(tls ? fixtureIdentity(0).get() : nullptr);
        auto* socket = tls ? new QSslSocket : new QTcpSocket;
        ZNFPeerConnection connection(socket);
        bool established = false;
        QObject::connect(&connection, &ZNFPeerConnection::established, [&] { established = true; });
        if (tls)
            connection.startTls(*fixtureIdentity(1), false);
        socket->connectToHost(QHostAddress::LocalHost, server->serverPort());
        ASSERT_TRUE(waitUntil([&] { return established && server->hasPendingConnections(); }));
        std::unique_ptr<QTcpSocket> peer(server->nextPendingConnection());
        peer->setReadBufferSize(64 * 1024);

        // Offered as the session offers file chunks: whenever the queue is under the high water.
        qint64 handed = 0;
        auto offer = [&] {
            while (handed < offered && connection.bytesToWrite() < limits.writeHighWater) {
                connection.send(ZNFPeerFrame::Data, chunk);
                handed += chunk.size();
            }
        };
        QObject::connect(&connection, &ZNFPeerConnection::drained, offer);
        offer();
        qint64 mostQueued = 0;
        waitUntil(
            [&] {
                qint64 queued = socket->bytesToWrite();
                if (tls)
                    queued += static_cast<QSslSocket*>(socket)->encryptedBytesToWrite();
                mostQueued = qMax(mostQueued, queued);
                return false;
            },
            1500);
        EXPECT_LT(mostQueued, limits.writeHighWater + 2 * chunk.size());
        EXPECT_LT(handed, offered / 2);
    }
}

// A receiver whose answer does not confirm, after the whole file, what was sent must not make
// the sender report success; one that answers out of turn loses its link.
TEST(BadReceiver, OnlyAConfirmationOfTheWholeFileIsSuccess) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    auto session = ZNFPeerSession::create(ZNFPeerID("Sender"));
    auto events = std::make_shared<RecordingSession>();
    session->setDelegate(events);
    QTemporaryDir dir;
    const QString path = dir.filePath("file");
    const qint64 size = 100000;
    const QByteArray sha = writePatternFile(path, size);
    // Far more than the socket buffers hold, so that the sender is still sending when an
    // early answer comes.
    const QString bigPath = dir.filePath("big");
    writePatternFile(bigPath, 32 << 20);
    const QByteArray zeros(ZNFPeerFrame::kDigestBytes, 0);

    enum When { AfterEnd, AfterFirstChunk };
    // Answers for the resource numbered `id`, from one that stored `bytes` hashing to `digest`, or
    // from one that failed with `code`.
    const auto stored = [](qint64 bytes, const QByteArray& digest) {
        return [=](quint32 id) { return rawResult(id, ZNFPeerError::None, bytes, digest); };
    };
    const auto failed = [&](ZNFPeerError::Code code) {
        return [=](quint32 id) { return rawResult(id, code, 0, zeros); };
    };
    const struct {
        const char* what;
        std::function<QByteArray(quint32 id)> reply;
        ZNFPeerError::Code expected;
        When when = AfterEnd;
        bool linkSurvives = true;
    } cases[] = {
        // clang-format off
        {"other bytes", stored(size, QByteArray(32, 'x')), ZNFPeerError::HashMismatch},
        {"other size", stored(size - 1, sha), ZNFPeerError::SizeMismatch},
        {"could not store", failed(ZNFPeerError::FileError), ZNFPeerError::FileError},
        {"refused the name", failed(ZNFPeerError::InvalidName), ZNFPeerError::InvalidName, AfterFirstChunk},
        {"stored", stored(size, sha), ZNFPeerError::None},
        {"confirmed before the end", stored(size, zeros), ZNFPeerError::ProtocolError, AfterFirstChunk,
         false},
        {"confirmed twice", [&](quint32 id) { return stored(size, sha)(id) + stored(size, sha)(id); },
         ZNFPeerError::None, AfterEnd, false},
        {"confirmed another resource", [&](quint32 id) { return stored(size, sha)(id + 7); },
         ZNFPeerError::ProtocolError, AfterEnd, false},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ZNFPeerID fake(QStringLiteral("Fake %1").arg(c.what));
        session->connectToPeer(ZNFPeerID(), QHostAddress::LocalHost, server.serverPort(), {}, 5);
        ASSERT_TRUE(server.waitForNewConnection(5000));
        std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
        QByteArray payload;
        ASSERT_EQ(nextFrame(*socket), Frame::Invite);
        socket->write(rawFrame(Frame::Accept, rawString(fake.uniqueID()) + rawString(fake.displayName())));
        ASSERT_TRUE(waitUntil([&] { return session->connectedPeers().contains(fake); }));

        CompletionProbe probe;
        session->sendResourceAtURL(QUrl::fromLocalFile(c.when == AfterEnd ? path : bigPath), "file", fake,
                                   probe.callback());
        quint32 id = 0;
        for (quint8 type = 0; type != (c.when == AfterEnd ? Frame::ResourceEnd : Frame::ResourceChunk);) {
            ASSERT_TRUE(type = nextFrame(*socket, &payload));
            id = qFromBigEndian<quint32>(payload.constData());
        }
        if (c.when == AfterEnd) {
            EXPECT_EQ(payload.mid(4), sha);
        }
        EXPECT_EQ(probe.calls(), 0); // nothing is reported before the receiver answers
        socket->write(c.reply(id));
        ASSERT_TRUE(probe.wait());
        EXPECT_EQ(probe.error().code(), c.expected);
        EXPECT_EQ(waitClosed(*socket, c.linkSurvives ? 200 : 5000), !c.linkSurvives);
        EXPECT_EQ(probe.calls(), 1);
        session->cancelConnectPeer(fake);
        ASSERT_TRUE(waitUntil([&] { return session->connectedPeers().isEmpty(); }));
    }
}

} // namespace
