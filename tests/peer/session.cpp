// Sessions, invitations and resources over real TCP on 127.0.0.1, with in-process discovery.
#include "TestSupport.h"
#include "peer/support/PeerTestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr qint64 kNotConnected = ZNFPeerSession::NotConnected;
constexpr qint64 kConnecting = ZNFPeerSession::Connecting;
constexpr qint64 kConnected = ZNFPeerSession::Connected;

TEST(PeerSession, InvitationConnectsBothSidesAndCarriesDataInOrder) {
    PeerPair pair;
    ASSERT_TRUE(pair.connect());

    // The host learns the guest's identity from the invitation, the context as sent.
    EXPECT_EQ(pair.answering->lastPeer(), pair.guestID);
    EXPECT_EQ(pair.answering->lastPeer().displayName(), QStringLiteral("Guest Phone"));
    EXPECT_EQ(pair.answering->lastContext(), QByteArray("hello"));
    EXPECT_EQ(pair.browsing->infoOf(pair.hostID).value(QStringLiteral("host")), QStringLiteral("test box"));
    EXPECT_FALSE(pair.browsing->infoOf(pair.hostID).contains(QLatin1String(ZNFPeerDiscovery_displayNameKey)));
    EXPECT_EQ(pair.browsing->found().first().displayName(), QStringLiteral("Host Computer"));

    // Both sides pass through connecting to connected.
    EXPECT_EQ(pair.guestEvents->statesOf(pair.hostID), (std::vector<qint64>{kConnecting, kConnected}));
    EXPECT_EQ(pair.hostEvents->statesOf(pair.guestID), (std::vector<qint64>{kConnecting, kConnected}));

    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(pair.guestSession->sendData(QByteArray::number(i), {pair.hostID}));
    ASSERT_TRUE(pair.hostSession->sendData(QByteArray("back"), {pair.guestID}));
    ASSERT_TRUE(waitUntil([&] { return pair.hostEvents->data().size() == 20; }));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(pair.hostEvents->data().at(i), QByteArray::number(i));
    ASSERT_TRUE(waitUntil([&] { return pair.guestEvents->data().size() == 1; }));

    // Disconnecting one side is seen by both, and the session can be invited again.
    pair.guestSession->disconnect();
    ASSERT_TRUE(waitUntil([&] { return pair.hostSession->connectedPeers().isEmpty(); }));
    EXPECT_EQ(pair.hostEvents->statesOf(pair.guestID).back(), kNotConnected);
    EXPECT_TRUE(pair.guestSession->connectedPeers().isEmpty());
    pair.browser->invitePeer(pair.hostID, pair.guestSession, QByteArray(), 5);
    ASSERT_TRUE(waitUntil([&] { return pair.hostSession->connectedPeers().contains(pair.guestID); }));
    EXPECT_TRUE(pair.answering->lastContext().isNull()); // no context sent, none received
}

TEST(PeerSession, DataToAPeerThatIsNotConnectedIsRefused) {
    PeerPair pair;
    ZNFPeerError error;
    EXPECT_FALSE(pair.guestSession->sendData(QByteArray("x"), {pair.hostID}, &error));
    EXPECT_EQ(error.code(), ZNFPeerError::NotConnected);
    ASSERT_TRUE(pair.connect());
    EXPECT_FALSE(pair.guestSession->sendData(QByteArray(ZNFPeerLimits::current().maxFramePayload + 1, 'x'),
                                             {pair.hostID}, &error));
    EXPECT_EQ(error.code(), ZNFPeerError::TooLarge);
}

TEST(PeerSession, DeclinedAndUnansweredInvitationsEndNotConnected) {
    PeerPair pair;
    auto declining = std::make_shared<AnsweringAdvertiser>(AnsweringAdvertiser::Mode::Decline, nullptr);
    pair.advertiser->setDelegate(declining);
    pair.advertiser->startAdvertisingPeer();
    pair.browser->startBrowsingForPeers();
    ASSERT_TRUE(waitUntil([&] { return pair.browsing->found().contains(pair.hostID); }));
    pair.browser->invitePeer(pair.hostID, pair.guestSession, {}, 5);
    ASSERT_TRUE(waitUntil([&] { return pair.guestEvents->statesOf(pair.hostID).size() == 2; }));
    EXPECT_EQ(pair.guestEvents->statesOf(pair.hostID), (std::vector<qint64>{kConnecting, kNotConnected}));
    EXPECT_TRUE(pair.hostEvents->states().empty());

    auto silent = std::make_shared<AnsweringAdvertiser>(AnsweringAdvertiser::Mode::Ignore, nullptr);
    pair.advertiser->setDelegate(silent);
    pair.browser->invitePeer(pair.hostID, pair.guestSession, {}, 0.3);
    ASSERT_TRUE(waitUntil([&] { return pair.guestEvents->statesOf(pair.hostID).size() == 4; }, 3000));
    EXPECT_EQ(pair.guestEvents->statesOf(pair.hostID).back(), kNotConnected);
    EXPECT_EQ(silent->invitations(), 1);

    // A peer the browser never found cannot be invited; the session says so.
    const ZNFPeerID stranger(QStringLiteral("Stranger"));
    pair.browser->invitePeer(stranger, pair.guestSession, {}, 1);
    ASSERT_TRUE(waitUntil([&] { return !pair.guestEvents->statesOf(stranger).empty(); }));
    EXPECT_EQ(pair.guestEvents->statesOf(stranger), (std::vector<qint64>{kNotConnected}));
}

TEST(PeerSession, ResourceArrivesWholeAndTheSenderHearsOnlyAfterTheReceiverHadIt) {
    PeerPair pair;
    ASSERT_TRUE(pair.connect());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.notebackup"));
    const qint64 size = 3 * ZNFPeerLimits::current().chunkBytes + 12345; // not a whole number of chunks
    const QByteArray sha = writePatternFile(path, size);
    const QStringList tempsBefore = layerTemporaryFiles();

    std::atomic<bool> receiverHadIt{false};
    std::atomic<bool> completedBeforeReceiver{false};
    pair.guestEvents->onFinished = [&](const QString&) { receiverHadIt = true; };
    CompletionProbe probe;
    probe.onCall = [&] { completedBeforeReceiver = !receiverHadIt; };
    auto progress = pair.hostSession->sendResourceAtURL(
        QUrl::fromLocalFile(path), QStringLiteral("archive.notebackup"), pair.guestID, probe.callback());
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->totalUnitCount(), size);
    ASSERT_TRUE(probe.wait());
    EXPECT_TRUE(probe.error().isNull()) << qPrintable(probe.error().description());
    EXPECT_FALSE(completedBeforeReceiver);
    EXPECT_EQ(progress->completedUnitCount(), size);

    ASSERT_EQ(pair.guestEvents->finished().size(), 1u);
    const auto got = pair.guestEvents->finished().front();
    EXPECT_TRUE(got.error.isNull());
    EXPECT_EQ(got.name, QStringLiteral("archive.notebackup"));
    EXPECT_EQ(got.peer, pair.hostID);
    EXPECT_TRUE(got.existed);
    EXPECT_EQ(got.size, size);
    EXPECT_EQ(got.sha256, sha);
    EXPECT_EQ(pair.guestEvents->began(), QStringList{QStringLiteral("archive.notebackup")});
    ASSERT_TRUE(pair.guestEvents->lastProgress());
    EXPECT_EQ(pair.guestEvents->lastProgress()->completedUnitCount(), size);
    // The temporary file is the layer's: gone once the delegate has returned.
    EXPECT_FALSE(QFileInfo::exists(got.path));
    EXPECT_EQ(layerTemporaryFiles(), tempsBefore);

    // An empty file is a resource too.
    const QString empty = dir.filePath(QStringLiteral("empty"));
    writePatternFile(empty, 0);
    CompletionProbe second;
    pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(empty), QStringLiteral("empty"), pair.guestID,
                                        second.callback());
    ASSERT_TRUE(second.wait());
    EXPECT_TRUE(second.error().isNull());
    ASSERT_TRUE(waitUntil([&] { return pair.guestEvents->finished().size() == 2; }));
    EXPECT_EQ(pair.guestEvents->finished().back().size, 0);
}

TEST(PeerSession, SendingFailsCleanlyForMissingFilesStrangersAndCancellation) {
    PeerPair pair;
    ASSERT_TRUE(pair.connect());
    QTemporaryDir dir;

    CompletionProbe missing;
    pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(dir.filePath(QStringLiteral("nope"))),
                                        QStringLiteral("n"), pair.guestID, missing.callback());
    ASSERT_TRUE(missing.wait());
    EXPECT_EQ(missing.error().code(), ZNFPeerError::FileError);

    const QString path = dir.filePath(QStringLiteral("big"));
    writePatternFile(path, 8 << 20);
    CompletionProbe stranger;
    pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("big"),
                                        ZNFPeerID(QStringLiteral("Nobody")), stranger.callback());
    ASSERT_TRUE(stranger.wait());
    EXPECT_EQ(stranger.error().code(), ZNFPeerError::NotConnected);

    // Cancelled from the start: the receiver drops what it had and both hear of it.
    CompletionProbe cancelled;
    auto progress = pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("big"),
                                                        pair.guestID, cancelled.callback());
    progress->cancel();
    ASSERT_TRUE(cancelled.wait());
    EXPECT_EQ(cancelled.error().code(), ZNFPeerError::Cancelled);
    // The receiver may refuse too: then nothing is kept and the sender is not told it was delivered.
    pair.guestEvents->refuseAll = true;
    CompletionProbe refused;
    pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("big"), pair.guestID,
                                        refused.callback());
    ASSERT_TRUE(refused.wait());
    EXPECT_EQ(refused.error().code(), ZNFPeerError::Cancelled);
    ASSERT_TRUE(waitUntil([&] { return !pair.guestEvents->finished().empty(); }));
    EXPECT_EQ(pair.guestEvents->finished().back().error.code(), ZNFPeerError::Cancelled);
    EXPECT_TRUE(pair.guestEvents->finished().back().path.isEmpty());
    pair.guestEvents->refuseAll = false;
    // The link is still good afterwards.
    CompletionProbe after;
    pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("big"), pair.guestID,
                                        after.callback());
    ASSERT_TRUE(after.wait());
    EXPECT_TRUE(after.error().isNull()) << qPrintable(after.error().description());
    EXPECT_TRUE(pair.guestSession->connectedPeers().contains(pair.hostID));
}

TEST(PeerSession, DisconnectMidTransferFailsBothSidesAndLeavesNoPartialFile) {
    PeerPair pair;
    ASSERT_TRUE(pair.connect());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big"));
    writePatternFile(path, 64 << 20);
    const QStringList tempsBefore = layerTemporaryFiles();

    CompletionProbe probe;
    auto progress = pair.hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("big"),
                                                        pair.guestID, probe.callback());
    ASSERT_TRUE(waitUntil([&] {
        auto p = pair.guestEvents->lastProgress();
        return p && p->completedUnitCount() > 0;
    }));
    pair.guestSession->disconnect();
    ASSERT_TRUE(probe.wait());
    EXPECT_FALSE(probe.error().isNull());
    ASSERT_TRUE(waitUntil([&] { return pair.guestEvents->finished().size() == 1; }));
    const auto got = pair.guestEvents->finished().front();
    EXPECT_FALSE(got.error.isNull());
    EXPECT_TRUE(got.path.isEmpty());
    EXPECT_EQ(layerTemporaryFiles(), tempsBefore);
}

} // namespace
