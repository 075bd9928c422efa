// The controller's routing rules, against the real peer layer over 127.0.0.1 with in-process
// discovery.
#include "TestSupport.h"
#include "multipeer/ZNFMultipeerController.h"
#include "multipeer/ZNFTransferEstimate.h"
#include "multipeer/ZNFWirelessSender.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFSha256.h"
#include "support/MultipeerTestSupport.h"

#include <QCoreApplication>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>
#include <optional>

namespace {

constexpr double kInviteTimeout = 5;
const QString kService = "nc-ctl";

// Thread-safe list of states a handler saw.
struct StateLog {
    QMutex mutex;
    std::vector<PeerState> states;
    bool onMainThread = false;
    ZNFMultipeerStateHandler handler() {
        return [this](const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID&, PeerState state) {
            QMutexLocker lock(&mutex);
            states.push_back(state);
            onMainThread |= QThread::currentThread() == qApp->thread();
        };
    }
    std::vector<PeerState> seen() { return locked(mutex, states); }
};

class ControllerTest : public ::testing::Test {
protected:
    // Advertises, accepting every invitation into the controller's session after `onInvite`.
    std::shared_ptr<ZNFPeerAdvertiser>
    advertiseAccepting(std::function<void(const ZNFPeerID&, const QByteArray&)> onInvite = {},
                       const std::optional<ZNFDiscoveryInfo>& info = std::nullopt) {
        return controller->startAdvertisingWithInfo(
            info, [onInvite, weak = std::weak_ptr(controller)](
                      const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID& peer,
                      const QByteArray& context, const ZNFPeerInvitationHandler& reply) {
                if (onInvite)
                    onInvite(peer, context);
                reply(true, weak.lock()->session());
            });
    }
    // The guest finds the controller and invites it; true once the controller lists it.
    bool guestConnects(const QByteArray& context = {}) {
        if (!waitUntil([&] { return guest->sees(controller->peerId()); }))
            return false;
        guest->browser->invitePeer(controller->peerId(), guest->session, context, kInviteTimeout);
        return waitUntil([&] { return controller->peers().contains(guest->id); });
    }

    // Outlives the controller and the guest, whose last state changes may still reach it.
    StateLog log;
    // Before the guest below, which starts browsing as soon as it is made.
    const bool loopback = (ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback), true);
    std::shared_ptr<ZNFMultipeerController> controller =
        std::make_shared<ZNFMultipeerController>(kService, "Desk");
    std::unique_ptr<Guest> guest = std::make_unique<Guest>(kService);
};

TEST_F(ControllerTest, ServiceTypeIsAtMostFifteenCharacters) {
    EXPECT_EQ(ZNFMultipeerController("abcdefghijklmno", {}).serviceType(), "abcdefghijklmno");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ZNFMultipeerController("abcdefghijklmnop", "Desk"),
                 "ZNFMultipeerController.*Service type must be 15 characters or less\\.");
}

TEST_F(ControllerTest, NilHandlersReturnNothingAndStartNothing) {
    EXPECT_EQ(controller->startAdvertisingWithInfo(ZNFDiscoveryInfo{}, nullptr), nullptr);
    EXPECT_EQ(controller->startBrowsing(nullptr), nullptr);
    EXPECT_TRUE(controller->allAdvertisers().isEmpty() && controller->allBrowsers().isEmpty());
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(guest->sees(controller->peerId())) << "nothing was announced either";
}

TEST_F(ControllerTest, InvitationsReachTheHandlerAndStateChangesKeepReachingIt) {
    std::atomic<int> invitations{0};
    std::atomic<bool> invitedOnMain{false};
    QByteArray context;
    auto advertiser = advertiseAccepting(
        [&](const ZNFPeerID& peer, const QByteArray& ctx) {
            ++invitations;
            invitedOnMain = QThread::currentThread() == qApp->thread();
            context = ctx;
            controller->registerHandler(log.handler(), peer, controller->session());
        },
        ZNFDiscoveryInfo{{"host", "desk"}});
    EXPECT_EQ(controller->allAdvertisers(), QList<std::shared_ptr<ZNFPeerAdvertiser>>{advertiser});
    ASSERT_TRUE(guestConnects("ctx"));
    EXPECT_EQ(invitations, 1);
    EXPECT_FALSE(invitedOnMain); // the layer's own thread
    EXPECT_EQ(context, QByteArray("ctx"));
    EXPECT_EQ(log.seen(), (std::vector<PeerState>{kConnecting, kConnected}));

    // After the transfer the handler still hears every change, and again on reconnecting.
    guest->session->disconnect();
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 3; }));
    EXPECT_TRUE(controller->peers().isEmpty());
    guest->browser->invitePeer(controller->peerId(), guest->session, {}, kInviteTimeout);
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 5; }));
    EXPECT_EQ(log.seen(),
              (std::vector<PeerState>{kConnecting, kConnected, kNotConnected, kConnecting, kConnected}));
    EXPECT_FALSE(log.onMainThread);
}

TEST_F(ControllerTest, APeerListedTwiceGoesWithOneChangeOrWhenLost) {
    auto session = controller->session();
    const ZNFPeerID phone("Phone");
    const ZNFPeerID other("Other");
    controller->session(session, phone, kConnected);
    controller->session(session, phone, kConnected);
    controller->session(session, other, kConnected);
    EXPECT_EQ(controller->peers(), (QList<ZNFPeerID>{phone, phone, other}));
    controller->session(session, phone, kNotConnected);
    EXPECT_EQ(controller->peers(), QList<ZNFPeerID>{other});
    controller->session(session, phone, kConnected);
    controller->session(session, phone, kConnecting); // connecting again also drops it
    EXPECT_EQ(controller->peers(), QList<ZNFPeerID>{other});
    controller->browser(ZNFPeerBrowser::create(controller->peerId(), kService), other);
    EXPECT_TRUE(controller->peers().isEmpty());
    // Equality is by identity: the same peer under another display name is the same peer.
    controller->session(session, ZNFPeerID("Renamed", phone.uniqueID()), kConnected);
    controller->session(session, phone, kNotConnected);
    EXPECT_TRUE(controller->peers().isEmpty());
}

TEST_F(ControllerTest, InviteWithoutACompletionSendsNothing) {
    // The advertised side is a bare layer advertiser that counts invitations.
    PeerPair pair(kService, ZNFPeerDiscovery::Backend::Loopback, true);
    const ZNFPeerID desk = pair.hostID;
    pair.advertiser->startAdvertisingPeer();

    auto phone = std::make_shared<ZNFMultipeerController>(kService, "Phone");
    std::atomic<bool> found{false};
    auto browser = phone->startBrowsing([&](const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer,
                                            const ZNFDiscoveryInfo&) { found = found || peer == desk; });
    ASSERT_TRUE(waitUntil([&] { return found.load(); }));
    phone->invitePeer(desk, browser, QByteArray("x"), kInviteTimeout, nullptr);
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(pair.answering->invitations(), 0);
    EXPECT_TRUE(phone->session()->connectedPeers().isEmpty());

    phone->invitePeer(desk, browser, QByteArray("x"), kInviteTimeout, log.handler());
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 2; }));
    EXPECT_EQ(pair.answering->invitations(), 1);
    EXPECT_EQ(log.seen(), (std::vector<PeerState>{kConnecting, kConnected}));
}

TEST_F(ControllerTest, AnInvitationForARemovedAdvertiserIsNeverAnswered) {
    std::atomic<int> handled{0}, answered{0};
    auto advertiser = advertiseAccepting([&](const ZNFPeerID&, const QByteArray&) { ++handled; });
    controller->removeAdvertiser(advertiser);
    EXPECT_FALSE(advertiser->isAdvertising());
    EXPECT_TRUE(controller->allAdvertisers().isEmpty());
    // The layer delivers an invitation that was already on its way.
    controller->advertiser(advertiser, ZNFPeerID("Phone"), QByteArray(),
                           [&](bool, const std::shared_ptr<ZNFPeerSession>&) { ++answered; });
    EXPECT_EQ(handled + answered, 0);
    controller->removeAdvertiser(nullptr); // harmless
}

TEST_F(ControllerTest, DisconnectOnAFreshControllerAndAfterAdvertisingAndBrowsing) {
    ZNFMultipeerController(kService, "Fresh").disconnect();
    auto advertiser = advertiseAccepting([&](const ZNFPeerID& peer, const QByteArray&) {
        controller->registerHandler(log.handler(), peer, nullptr);
    });
    auto browser = controller->startBrowsing(
        [](const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID&, const ZNFDiscoveryInfo&) {});
    ASSERT_TRUE(guestConnects());
    const auto session = controller->session();

    controller->disconnect();
    EXPECT_TRUE(controller->allAdvertisers().isEmpty() && controller->allBrowsers().isEmpty());
    EXPECT_FALSE(advertiser->isAdvertising() || browser->isBrowsing());
    EXPECT_EQ(controller->session(), session); // kept
    ASSERT_TRUE(waitUntil([&] { return guest->browsing->lost().contains(controller->peerId()); }));
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 3; }));
    EXPECT_EQ(log.seen().back(), kNotConnected); // the state handler stays registered
}

// Resources reach the handlers of their session in the receive command's rows
// (tests/tools) and the app's stand-in phone (tests/app/send_test.cpp).
TEST_F(ControllerTest, DataGoesToTheHandlerOfItsSession) {
    advertiseAccepting();
    QMutex mutex;
    QList<QByteArray> data;
    controller->registerDataHandler(nullptr, controller->session()); // ignored
    controller->registerDataHandler(
        [&](const QByteArray& bytes, const ZNFPeerID& peer) {
            QMutexLocker lock(&mutex);
            if (peer == guest->id)
                data.append(bytes);
        },
        controller->session());
    controller->registerResourceHandlerForSession(nullptr, nullptr, nullptr); // no session: nothing
    ASSERT_TRUE(guestConnects());
    ASSERT_TRUE(waitUntil([&] { return guest->session->connectedPeers().contains(controller->peerId()); }));
    ASSERT_TRUE(guest->session->sendData(QByteArray("ping"), {controller->peerId()}));
    EXPECT_TRUE(waitUntil([&] { return locked(mutex, data) == QList<QByteArray>{QByteArray("ping")}; }));
    controller->disconnect();
}

} // namespace

// One send, one phone: the first peer to connect gets the whole archive, and nothing another
// peer does (accepted alongside it, connecting late, dropping, pushing resources at the
// sender, inviting afterwards) ends or fails the send. The phone is a raw socket that
// confirms only when told, so the send is under way while the others act.
TEST_F(ControllerTest, AWirelessSendServesTheFirstPhoneAloneWhateverOtherPeersDo) {
    ScopedTemporaryFolder temporary;
    QTemporaryDir dir;
    const QString archive = dir.filePath("Vesper_to_Tessanote.notebackup");
    const QByteArray sha = writePatternFile(archive, 16 << 20);
    ZNFWirelessSender sender;
    sender.setEncryptionPreference(ZNFPeerSession::EncryptionNone); // the phone speaks raw frames
    std::optional<ZNFPeerError> outcome;
    ZNFPeerID served;
    QObject::connect(&sender, &ZNFWirelessSender::finished,
                     [&](const ZNFPeerID& phone, const ZNFPeerError& error) {
                         served = phone;
                         outcome = error;
                     });
    ASSERT_TRUE(sender.start(archive));
    const auto controller = sender.controller();
    const auto session = controller->session();
    const auto advertiser = controller->allAdvertisers().value(0);
    ASSERT_TRUE(advertiser);
    const quint16 port = advertiser->port();
    std::atomic<int> accepted{0};
    const ZNFPeerInvitationHandler reply = [&](bool accept, const std::shared_ptr<ZNFPeerSession>&) {
        accepted += accept ? 1 : 0;
    };

    // Accepted while no phone is connected yet.
    const ZNFPeerID other("Other");
    controller->advertiser(advertiser, other, {}, reply);
    EXPECT_EQ(accepted, 1);

    const ZNFPeerID phone("Phone");
    auto socket = connectRaw(port);
    socket->write(rawInvite(phone.uniqueID(), phone.displayName()));
    QByteArray payload;
    ASSERT_EQ(nextFrame(*socket), ZNFPeerFrame::Accept);
    ASSERT_EQ(nextFrame(*socket, &payload), ZNFPeerFrame::ResourceBegin);
    const quint32 id = qFromBigEndian<quint32>(payload.constData());

    // The other peer connects after the phone, drops, finishes a resource: nothing of it counts.
    controller->session(session, other, kConnected);
    controller->session(session, other, kNotConnected);
    controller->session(session, "x", other, QUrl(), ZNFPeerError(ZNFPeerError::ConnectionLost, "x"));
    // Later invitations are not accepted, and nobody can connect any more.
    controller->advertiser(advertiser, ZNFPeerID("Late"), {}, reply);
    EXPECT_EQ(accepted, 1);
    EXPECT_TRUE(waitUntil([&] { return !advertiser->isAdvertising(); }));
    auto late = connectRaw(port);
    EXPECT_TRUE(waitClosed(*late, 2000));
    // The phone itself pushes a resource at the sender, which takes none.
    socket->write(rawBegin(1, "pushed.notebackup", 10));

    ZNFSha256 received;
    QByteArray digest;
    quint32 pushedAnswer = 0xFFFFFFFF;
    qint64 bytes = 0;
    for (quint8 type = 0;
         (digest.isEmpty() || pushedAnswer == 0xFFFFFFFF) && (type = nextFrame(*socket, &payload)) != 0;) {
        if (type == ZNFPeerFrame::ResourceChunk) {
            received.addData(payload.constData() + 4, payload.size() - 4);
            bytes += payload.size() - 4;
        } else if (type == ZNFPeerFrame::ResourceEnd) {
            digest = payload.mid(4);
        } else if (type == ZNFPeerFrame::ResourceResult) {
            pushedAnswer = qFromBigEndian<quint32>(payload.constData() + 4);
        }
    }
    EXPECT_EQ(pushedAnswer, quint32(ZNFPeerError::Cancelled));
    EXPECT_EQ(digest, sha);
    EXPECT_EQ(received.result(), sha);
    EXPECT_FALSE(outcome) << "nothing is reported before the phone confirms";
    socket->write(rawResult(id, 0, quint64(bytes), digest));
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }, 10000));
    EXPECT_TRUE(outcome->isNull()) << qPrintable(outcome->description());
    EXPECT_EQ(served, phone);
    EXPECT_FALSE(sender.isRunning());
}

// The time left on the sending screen: none until a second has passed and bytes moved, then the
// rest at the average rate since the first report, rounded up.
TEST(TransferEstimate, TheRestAtTheAverageRate) {
    const struct {
        const char* name;
        qint64 firstDone, done, total, elapsedMs, secondsLeft;
    } rows[] = {
        {"too early to say", 0, 500, 1000, 900, -1},
        {"nothing moved yet", 100, 100, 1000, 5000, -1},
        {"half in ten seconds", 0, 500, 1000, 10000, 10},
        {"a fraction of a second left counts as one", 0, 999, 1000, 2000, 1},
        {"counted from the first report, not from zero", 4000, 5000, 6000, 1000, 1},
        {"done", 0, 1000, 1000, 3000, 0},
        {"more than announced", 0, 1200, 1000, 3000, -1},
        {"4.6 GB at 50 MB/s", 0, qint64(1200) * 1000 * 1000, qint64(4600) * 1000 * 1000, 24000, 68},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ZNFTransferEstimate estimate;
        EXPECT_EQ(estimate.update(row.firstDone, row.total, 0), -1);
        EXPECT_EQ(estimate.update(row.done, row.total, row.elapsedMs), row.secondsLeft);
    }
}
