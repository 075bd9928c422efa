// The controller's routing rules, against the real peer layer over 127.0.0.1 with in-process
// discovery.
#include "TestSupport.h"
#include "multipeer/ZNFMultipeerController.h"
#include "multipeer/ZNFWirelessSender.h"
#include "peer/support/PeerTestSupport.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFSha256.h"

#include <QCoreApplication>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>
#include <optional>

namespace {

constexpr qint64 kNotConnected = ZNFPeerSession::NotConnected;
constexpr qint64 kConnecting = ZNFPeerSession::Connecting;
constexpr qint64 kConnected = ZNFPeerSession::Connected;

// A guest on the other end: its own session and browser, recording what happens.
class Guest : public ZNFPeerSessionDelegate, public ZNFPeerBrowserDelegate {
public:
    Guest() {
        peerSession = ZNFPeerSession::create(id);
        peerBrowser = ZNFPeerBrowser::create(id, QStringLiteral("nc-ctl"));
    }
    void start(const std::shared_ptr<Guest>& self) {
        peerSession->setDelegate(self);
        peerBrowser->setDelegate(self);
        peerBrowser->startBrowsingForPeers();
    }
    void session(const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID&, qint64) override {}
    void session(const std::shared_ptr<ZNFPeerSession>&, const QByteArray&, const ZNFPeerID&) override {}
    void session(const std::shared_ptr<ZNFPeerSession>&, const QString&, const ZNFPeerID&,
                 const std::shared_ptr<ZNFProgress>&) override {}
    void session(const std::shared_ptr<ZNFPeerSession>&, const QString&, const ZNFPeerID&, const QUrl&,
                 const ZNFPeerError&) override {}
    void browser(const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer,
                 const ZNFDiscoveryInfo&) override {
        QMutexLocker lock(&mutex);
        found.append(peer);
    }
    void browser(const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer) override {
        QMutexLocker lock(&mutex);
        lost.append(peer);
    }
    bool sees(const ZNFPeerID& peer) {
        QMutexLocker lock(&mutex);
        return found.contains(peer) && !lost.contains(peer);
    }
    bool lostSight(const ZNFPeerID& peer) {
        QMutexLocker lock(&mutex);
        return lost.contains(peer);
    }

    ZNFPeerID id{QStringLiteral("Phone"), fixtureIdentity(1)};
    std::shared_ptr<ZNFPeerSession> peerSession;
    std::shared_ptr<ZNFPeerBrowser> peerBrowser;
    QMutex mutex;
    QList<ZNFPeerID> found, lost;
};

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override { ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback); }
};

// Thread-safe list of states a handler saw.
struct StateLog {
    QMutex mutex;
    std::vector<qint64> states;
    bool onMainThread = false;
    ZNFMultipeerStateHandler handler() {
        return [this](const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID&, qint64 state) {
            QMutexLocker lock(&mutex);
            states.push_back(state);
            onMainThread |= QThread::currentThread() == qApp->thread();
        };
    }
    std::vector<qint64> seen() {
        QMutexLocker lock(&mutex);
        return states;
    }
};

TEST_F(ControllerTest, DefaultsAndTheServiceTypeLimit) {
    LogCapture log;
    auto plain = std::make_shared<ZNFMultipeerController>();
    EXPECT_EQ(plain->serviceType(), QStringLiteral("znf-svc"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("ZNFMultipeerController: No service type specified. Consider specifying a "
                       "service type for your application.")));
    EXPECT_EQ(plain->peerId().displayName(), ZNFPeerID::localHostName());
    EXPECT_EQ(plain->peerId().uniqueID(), ZNFPeerIdentity::device()->fingerprint()) << "the device key's";

    auto named =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("abcdefghijklmno"), QStringLiteral("Desk"));
    EXPECT_EQ(named->serviceType(), QStringLiteral("abcdefghijklmno"));
    EXPECT_EQ(named->peerId().displayName(), QStringLiteral("Desk"));

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ZNFMultipeerController(QStringLiteral("abcdefghijklmnop"), QStringLiteral("Desk")),
                 "ZNFMultipeerController.*Service type must be 15 characters or less\\.");
}

TEST_F(ControllerTest, SessionIsMadeOnceWithThePreferencesSetBeforeIt) {
    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Desk"));
    controller->setEncryptionPreference(1);
    controller->setSecurityIdentity(QVariantList{QStringLiteral("identity")});
    auto session = controller->session();
    EXPECT_EQ(session->encryptionPreference(), 1);
    EXPECT_EQ(session->securityIdentity(), QVariantList{QStringLiteral("identity")});
    EXPECT_EQ(session->myPeerID(), controller->peerId());
    EXPECT_EQ(controller->session(), session);
    EXPECT_EQ(session->delegate().get(), static_cast<ZNFPeerSessionDelegate*>(controller.get()));
}

TEST_F(ControllerTest, NilHandlersReturnNothingAndStartNothing) {
    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Desk"));
    auto guest = std::make_shared<Guest>();
    guest->start(guest);
    EXPECT_EQ(controller->startAdvertisingWithInfo(ZNFDiscoveryInfo{}, nullptr), nullptr);
    EXPECT_EQ(controller->startBrowsing(nullptr), nullptr);
    EXPECT_TRUE(controller->allAdvertisers().isEmpty());
    EXPECT_TRUE(controller->allBrowsers().isEmpty());
    // Nothing was announced either.
    waitUntil([] { return false; }, 200);
    EXPECT_FALSE(guest->sees(controller->peerId()));
}

TEST_F(ControllerTest, InvitationsReachTheHandlerAndStateChangesKeepReachingIt) {
    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Desk"));
    StateLog log;
    std::atomic<int> invitations{0};
    std::atomic<bool> invitedOnMain{false};
    QByteArray context;
    std::weak_ptr<ZNFMultipeerController> weak = controller;
    auto advertiser = controller->startAdvertisingWithInfo(
        ZNFDiscoveryInfo{{QStringLiteral("host"), QStringLiteral("desk")}},
        [&](const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID& peer, const QByteArray& ctx,
            const ZNFPeerInvitationHandler& reply) {
            ++invitations;
            invitedOnMain = QThread::currentThread() == qApp->thread();
            context = ctx;
            auto c = weak.lock();
            c->registerHandler(log.handler(), peer, c->session());
            reply(true, c->session());
        });
    ASSERT_TRUE(advertiser);
    EXPECT_EQ(controller->allAdvertisers(), QList<std::shared_ptr<ZNFPeerAdvertiser>>{advertiser});

    auto guest = std::make_shared<Guest>();
    guest->start(guest);
    ASSERT_TRUE(waitUntil([&] { return guest->sees(controller->peerId()); }));
    guest->peerBrowser->invitePeer(controller->peerId(), guest->peerSession, QByteArray("ctx"), 5);
    ASSERT_TRUE(waitUntil([&] { return controller->peers().contains(guest->id); }));
    EXPECT_EQ(invitations, 1);
    EXPECT_FALSE(invitedOnMain); // the layer's own thread
    EXPECT_EQ(context, QByteArray("ctx"));
    EXPECT_EQ(log.seen(), (std::vector<qint64>{kConnecting, kConnected}));

    // After the transfer the handler still hears every change, and again on reconnecting.
    guest->peerSession->disconnect();
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 3; }));
    EXPECT_EQ(log.seen().back(), kNotConnected);
    EXPECT_TRUE(controller->peers().isEmpty());
    guest->peerBrowser->invitePeer(controller->peerId(), guest->peerSession, {}, 5);
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 5; }));
    EXPECT_EQ(log.seen(),
              (std::vector<qint64>{kConnecting, kConnected, kNotConnected, kConnecting, kConnected}));
    EXPECT_FALSE(log.onMainThread);
}

TEST_F(ControllerTest, APeerListedTwiceGoesWithOneChangeOrWhenLost) {
    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Desk"));
    auto session = controller->session();
    const ZNFPeerID phone(QStringLiteral("Phone"));
    const ZNFPeerID other(QStringLiteral("Other"));
    controller->session(session, phone, kConnected);
    controller->session(session, phone, kConnected);
    controller->session(session, other, kConnected);
    EXPECT_EQ(controller->peers(), (QList<ZNFPeerID>{phone, phone, other}));
    controller->session(session, phone, kNotConnected);
    EXPECT_EQ(controller->peers(), QList<ZNFPeerID>{other});
    controller->session(session, phone, kConnected);
    controller->session(session, phone, kConnecting); // connecting again also drops it
    EXPECT_EQ(controller->peers(), QList<ZNFPeerID>{other});
    controller->browser(ZNFPeerBrowser::create(controller->peerId(), QStringLiteral("nc-ctl")), other);
    EXPECT_TRUE(controller->peers().isEmpty());
    // Equality is by identity: the same peer under another display name is the same peer.
    controller->session(session, ZNFPeerID(QStringLiteral("Renamed"), phone.uniqueID()), kConnected);
    controller->session(session, phone, kNotConnected);
    EXPECT_TRUE(controller->peers().isEmpty());
}

TEST_F(ControllerTest, InviteWithoutACompletionSendsNothing) {
    // The advertised side is a bare layer advertiser that counts invitations.
    struct Counter : ZNFPeerAdvertiserDelegate {
        std::atomic<int> count{0};
        std::shared_ptr<ZNFPeerSession> session;
        void advertiser(const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID&, const QByteArray&,
                        const ZNFPeerInvitationHandler& reply) override {
            ++count;
            reply(true, session);
        }
    };
    const ZNFPeerID desk(QStringLiteral("Desk"), fixtureIdentity(0));
    auto counter = std::make_shared<Counter>();
    counter->session = ZNFPeerSession::create(desk);
    auto advertiser = ZNFPeerAdvertiser::create(desk, {}, QStringLiteral("nc-ctl"));
    advertiser->setDelegate(counter);
    advertiser->startAdvertisingPeer();

    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Phone"));
    std::atomic<bool> found{false};
    auto browser = controller->startBrowsing(
        [&](const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer, const ZNFDiscoveryInfo&) {
            if (peer == desk)
                found = true;
        });
    ASSERT_TRUE(browser);
    ASSERT_TRUE(waitUntil([&] { return found.load(); }));

    controller->invitePeer(desk, browser, QByteArray("x"), 5, nullptr);
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(counter->count, 0);
    EXPECT_TRUE(controller->session()->connectedPeers().isEmpty());

    StateLog log;
    controller->invitePeer(desk, browser, QByteArray("x"), 5, log.handler());
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 2; }));
    EXPECT_EQ(counter->count, 1);
    EXPECT_EQ(log.seen(), (std::vector<qint64>{kConnecting, kConnected}));
    counter->session->disconnect();
}

TEST_F(ControllerTest, AnInvitationForARemovedAdvertiserIsNeverAnswered) {
    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Desk"));
    std::atomic<int> handled{0};
    auto advertiser = controller->startAdvertisingWithInfo(
        std::nullopt, [&](const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID&, const QByteArray&,
                          const ZNFPeerInvitationHandler&) { ++handled; });
    ASSERT_TRUE(advertiser);
    controller->removeAdvertiser(advertiser);
    EXPECT_FALSE(advertiser->isAdvertising());
    EXPECT_TRUE(controller->allAdvertisers().isEmpty());

    // The layer delivers an invitation that was already on its way.
    std::atomic<int> answered{0};
    controller->advertiser(advertiser, ZNFPeerID(QStringLiteral("Phone")), QByteArray(),
                           [&](bool, const std::shared_ptr<ZNFPeerSession>&) { ++answered; });
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(answered, 0);
    controller->removeAdvertiser(nullptr); // harmless
}

TEST_F(ControllerTest, DisconnectOnAFreshControllerAndAfterAdvertisingAndBrowsing) {
    auto fresh = std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Fresh"));
    fresh->disconnect();
    EXPECT_TRUE(fresh->session());
    EXPECT_TRUE(fresh->allAdvertisers().isEmpty());
    EXPECT_TRUE(fresh->allBrowsers().isEmpty());

    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Desk"));
    auto guest = std::make_shared<Guest>();
    guest->start(guest);
    StateLog log;
    auto advertiser = controller->startAdvertisingWithInfo(
        std::nullopt, [&, weak = std::weak_ptr<ZNFMultipeerController>(controller)](
                          const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID& peer, const QByteArray&,
                          const ZNFPeerInvitationHandler& reply) {
            auto c = weak.lock();
            c->registerHandler(log.handler(), peer, nullptr);
            reply(true, c->session());
        });
    auto browser = controller->startBrowsing(
        [](const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID&, const ZNFDiscoveryInfo&) {});
    ASSERT_TRUE(waitUntil([&] { return guest->sees(controller->peerId()); }));
    guest->peerBrowser->invitePeer(controller->peerId(), guest->peerSession, {}, 5);
    ASSERT_TRUE(waitUntil([&] { return controller->peers().contains(guest->id); }));
    const auto session = controller->session();

    controller->disconnect();
    EXPECT_TRUE(controller->allAdvertisers().isEmpty());
    EXPECT_TRUE(controller->allBrowsers().isEmpty());
    EXPECT_FALSE(advertiser->isAdvertising());
    EXPECT_FALSE(browser->isBrowsing());
    EXPECT_EQ(controller->session(), session); // kept
    ASSERT_TRUE(waitUntil([&] { return guest->lostSight(controller->peerId()); }));
    ASSERT_TRUE(waitUntil([&] { return log.seen().size() == 3; }));
    EXPECT_EQ(log.seen().back(), kNotConnected); // the state handler stays registered
}

TEST_F(ControllerTest, DataAndResourcesGoToTheHandlersOfTheirSession) {
    auto controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("nc-ctl"), QStringLiteral("Desk"));
    auto guest = std::make_shared<Guest>();
    guest->start(guest);
    std::weak_ptr<ZNFMultipeerController> weak = controller;
    controller->startAdvertisingWithInfo(
        std::nullopt, [weak](const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID&, const QByteArray&,
                             const ZNFPeerInvitationHandler& reply) { reply(true, weak.lock()->session()); });
    QMutex mutex;
    QList<QByteArray> data;
    QStringList began;
    QList<QPair<QString, bool>> finished;
    QByteArray stored;
    auto session = controller->session();
    controller->registerDataHandler(nullptr, session); // ignored
    controller->registerDataHandler(
        [&](const QByteArray& bytes, const ZNFPeerID& peer) {
            QMutexLocker lock(&mutex);
            if (peer == guest->id)
                data.append(bytes);
        },
        session);
    controller->registerResourceHandlerForSession(nullptr, nullptr, nullptr); // no session: nothing
    controller->registerResourceHandlerForSession(
        session,
        [&](const std::shared_ptr<ZNFPeerSession>& s, const QString& name, const ZNFPeerID&,
            const std::shared_ptr<ZNFProgress>& progress) {
            QMutexLocker lock(&mutex);
            if (s == session && progress)
                began.append(name);
        },
        [&](const std::shared_ptr<ZNFPeerSession>&, const QString& name, const ZNFPeerID&, const QUrl& url,
            const ZNFPeerError& error) {
            QMutexLocker lock(&mutex);
            finished.append({name, error.isNull()});
            stored = readFile(url.toLocalFile());
        });

    ASSERT_TRUE(waitUntil([&] { return guest->sees(controller->peerId()); }));
    guest->peerBrowser->invitePeer(controller->peerId(), guest->peerSession, {}, 5);
    ASSERT_TRUE(
        waitUntil([&] { return guest->peerSession->connectedPeers().contains(controller->peerId()); }));
    ASSERT_TRUE(guest->peerSession->sendData(QByteArray("ping"), {controller->peerId()}));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("note.notebackup"));
    writeFile(path, QByteArray("zip bytes"));
    std::atomic<bool> sent{false};
    guest->peerSession->sendResourceAtURL(QUrl::fromLocalFile(path), QStringLiteral("note.notebackup"),
                                          controller->peerId(),
                                          [&](const ZNFPeerError& error) { sent = error.isNull(); });
    ASSERT_TRUE(waitUntil([&] { return sent.load(); }));
    QMutexLocker lock(&mutex);
    EXPECT_EQ(data, QList<QByteArray>{QByteArray("ping")});
    EXPECT_EQ(began, QStringList{QStringLiteral("note.notebackup")});
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().first, QStringLiteral("note.notebackup"));
    EXPECT_TRUE(finished.first().second);
    EXPECT_EQ(stored, QByteArray("zip bytes"));
    lock.unlock();
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
    const QString archive = dir.filePath(QStringLiteral("Vesper_to_Tessanote.notebackup"));
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
    const ZNFPeerID other(QStringLiteral("Other"));
    controller->advertiser(advertiser, other, {}, reply);
    EXPECT_EQ(accepted, 1);

    const ZNFPeerID phone(QStringLiteral("Phone"));
    auto socket = connectRaw(port);
    socket->write(rawInvite(phone.uniqueID(), phone.displayName()));
    quint8 type = 0;
    QByteArray payload;
    ASSERT_TRUE(readRawFrame(*socket, &type, &payload));
    ASSERT_EQ(type, ZNFPeerFrame::Accept);
    ASSERT_TRUE(readRawFrame(*socket, &type, &payload));
    ASSERT_EQ(type, ZNFPeerFrame::ResourceBegin);
    const quint32 id = qFromBigEndian<quint32>(payload.constData());

    // The other peer connects after the phone, drops, finishes a resource: nothing of it counts.
    controller->session(session, other, kConnected);
    controller->session(session, other, kNotConnected);
    controller->session(session, QStringLiteral("x"), other, QUrl(),
                        ZNFPeerError(ZNFPeerError::ConnectionLost, "x"));
    // Later invitations are not accepted, and nobody can connect any more.
    controller->advertiser(advertiser, ZNFPeerID(QStringLiteral("Late")), {}, reply);
    EXPECT_EQ(accepted, 1);
    EXPECT_TRUE(waitUntil([&] { return !advertiser->isAdvertising(); }));
    auto late = connectRaw(port);
    EXPECT_TRUE(waitClosed(*late, 2000));
    // The phone itself pushes a resource at the sender, which takes none.
    socket->write(rawBegin(1, QStringLiteral("pushed.notebackup"), 10));

    ZNFSha256 received;
    QByteArray digest;
    quint32 pushedAnswer = 0xFFFFFFFF;
    qint64 bytes = 0;
    while ((digest.isEmpty() || pushedAnswer == 0xFFFFFFFF) && readRawFrame(*socket, &type, &payload)) {
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
