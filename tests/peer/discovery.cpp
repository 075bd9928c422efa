// Discovery pieces that need no responder: TXT records, service types, in-process
// announcements, and what happens when DNS-SD has no daemon to talk to.
#include "TestSupport.h"
#include "peer/support/PeerTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(PeerDiscovery, TXTRecordsRoundTripAndSurviveDamage) {
    const ZNFDiscoveryInfo info{{"host", "Büro-Mac"}, {"empty", QString()}, {"eq", "a=b"}};
    const QByteArray record = ZNFPeerDiscovery::encodeTXT(info);
    EXPECT_EQ(ZNFPeerDiscovery::decodeTXT(record), info);

    // Entries that cannot be represented are left out rather than cut.
    const ZNFDiscoveryInfo bad{
        {"long", QString(300, QLatin1Char('v'))}, {"k=ey", "v"}, {QString(), "v"}, {"ok", "1"}};
    EXPECT_EQ(ZNFPeerDiscovery::decodeTXT(ZNFPeerDiscovery::encodeTXT(bad)), (ZNFDiscoveryInfo{{"ok", "1"}}));

    // A record from the network that lies about its lengths keeps only whole entries.
    QByteArray cut = record;
    cut.append(char(200)).append("x=y");
    EXPECT_EQ(ZNFPeerDiscovery::decodeTXT(cut), info);
    EXPECT_TRUE(ZNFPeerDiscovery::decodeTXT(QByteArray("\x05=abcd\x00", 7)).isEmpty());
}

TEST(PeerDiscovery, ServiceTypesFollowTheDNSSDRules) {
    for (const char* good : {"sfn", "znf-svc", "a", "abcdefghijklmno", "a1-b2"})
        EXPECT_TRUE(ZNFPeerDiscovery::isValidServiceType(QLatin1String(good))) << good;
    for (const char* bad : {"", "abcdefghijklmnop", "-sfn", "sfn-", "s--n", "Sfn", "s_n", "s.n", "s n"})
        EXPECT_FALSE(ZNFPeerDiscovery::isValidServiceType(QLatin1String(bad))) << bad;

    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
    auto advertiser = ZNFPeerAdvertiser::create(ZNFPeerID(QString("x")), {}, "Bad_Type");
    advertiser->startAdvertisingPeer();
    EXPECT_EQ(advertiser->startError().code(), ZNFPeerError::InvalidServiceType);
    EXPECT_FALSE(advertiser->isAdvertising());
}

TEST(PeerDiscovery, FoundAndLostFollowTheAdvertiserAndSkipOneself) {
    PeerPair pair("nc-found");
    auto mine = ZNFPeerAdvertiser::create(pair.guestID, {}, "nc-found");
    mine->startAdvertisingPeer();
    auto elsewhere = ZNFPeerAdvertiser::create(ZNFPeerID("Elsewhere"), {}, "nc-other");
    elsewhere->startAdvertisingPeer();
    ASSERT_TRUE(pair.find()); // the host advertises before browsing starts: still found
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(pair.browsing->found(), QList<ZNFPeerID>{pair.hostID});
    pair.advertiser->stopAdvertisingPeer();
    ASSERT_TRUE(waitUntil([&] { return pair.browsing->lost().contains(pair.hostID); }));
    pair.advertiser.reset(); // released while stopped: nothing more is reported
    EXPECT_EQ(pair.browsing->lost(), QList<ZNFPeerID>{pair.hostID});
}

TEST(PeerDiscovery, WithoutAResponderStartingFailsAtOnceWithAClearError) {
    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::DnsSd);
    auto advertiser = ZNFPeerAdvertiser::create(ZNFPeerID(QString("x")), {}, "nc-none");
    auto answering = std::make_shared<AnsweringAdvertiser>(AnsweringAdvertiser::Mode::Ignore, nullptr);
    advertiser->setDelegate(answering);
    advertiser->startAdvertisingPeer();
    if (advertiser->startError().isNull())
        GTEST_SKIP() << "a DNS-SD responder is running here; this checks the machine without one";
    // Its wording, and the browser's failure, are what send and receive print (tests/tools).
    EXPECT_EQ(advertiser->startError().code(), ZNFPeerError::DiscoveryUnavailable);
    EXPECT_FALSE(advertiser->isAdvertising());
    // The delegate hears it too, on the layer's thread.
    EXPECT_TRUE(
        waitUntil([&] { return answering->startError().code() == ZNFPeerError::DiscoveryUnavailable; }));

    ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
}

} // namespace
