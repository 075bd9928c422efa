// The wireless send, end to end in one process: the app advertises, a stand-in phone (the
// multipeer tests' guest) finds it, invites it and receives the archive.
#include "TestSupport.h"
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNotecrateWindowController.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "multipeer/ZNFMultipeerController.h"
#include "multipeer/support/MultipeerTestSupport.h"
#include "platform/ZNFCollectionView.h"
#include "platform/ZNFNotificationCenter.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "support/AppTestSupport.h"

#include <QFile>
#include <QMainWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class SendTest : public AppWindowTest {
protected:
    void SetUp() override {
        // Discovery within this process only: nothing reaches the machine's network.
        ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
        AppWindowTest::SetUp();
        writeFile(home.root() + "/Vesper/Active Notes/One.txt", "Hello\n");
        choose(home.root() + "/Vesper");
        vc->navigateToItems(vc->vesperScreen1Items());
        vc->openVesperFilePicker();
        ASSERT_TRUE(waitUntil([&] { return shows("Send Wirelessly"); }, 15000));
    }
};

} // namespace

// The send from the backup screen, row by row: the code and Send for a new phone, nothing
// before Send, a remembered phone straight through, a remembered name with another key
// refused, Back, a start that fails, and a failed transfer tried again.
TEST_F(SendTest, SendingFromTheBackupScreen) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        bool phoneInvites, confirm, refuses;
        const char* outcome; // a text of the last screen
        bool received;
    } rows[] = {
        // clang-format off
        {"a new phone", [] {}, true, true, false, "Success!", true},
        {"the same phone again goes straight through", [] {}, true, false, false, "Success!", true},
        {"a remembered phone that does not keep the archive", [] {}, true, false, true,
         "The transfer did not finish. Try again.", false},
        {"a remembered name with another key", [] { ZNFPinnedPeers(ZNFPeerIdentity::configFolder()).pin("Phone", "00"); },
         true, false, false, "was remembered with another key", false},
        {"Back while waiting for the phone", [] {}, false, false, false, "Send Wirelessly", false},
        {"a damaged key: the app asks for a new one",
         [] { writeFile(ZNFPeerIdentity::configFolder() + "/identity-key.pem", "x"); }, false, false, false, "Make a new key", false},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        row.arrange();
        if (!shows("Send Wirelessly"))
            vc->updateToShowBackup();
        clickText("Send Wirelessly");
        Guest phone("sfn");
        phone.events->refuseAll = row.refuses;
        if (row.phoneInvites) {
            ASSERT_TRUE(waitUntil([&] { return !phone.browsing->found().isEmpty(); }));
            phone.browser->invitePeer(phone.browsing->found()[0], phone.session, {}, 10);
        }
        if (row.confirm) {
            ASSERT_TRUE(waitUntil([&] { return showsPart("Your phone should show "); }, 20000));
            QTest::qWait(300);
            EXPECT_TRUE(phone.events->began().isEmpty()) << "nothing moves before Send";
            EXPECT_TRUE(shows("Phone"));
            const QString code = textsOf(shown()).filter("Your phone should show ").value(0).mid(23);
            clickText("Send");
            ASSERT_TRUE(waitUntil([&] { return !phone.events->finished().empty(); }, 20000));
            EXPECT_EQ(phone.events->states().back().peer.verificationCode(), code)
                << "both screens show the same code";
        }
        if (QLatin1String(row.outcome) == QLatin1String("Send Wirelessly"))
            click(0); // Back
        ASSERT_TRUE(waitUntil([&] { return showsPart(QLatin1String(row.outcome)); }, 20000));
        EXPECT_FALSE(showsPart("Your phone should show ")) << "no code for a remembered phone";
        EXPECT_FALSE(showsPart("Attempting to send")) << "no spinner beside a failure";
        const auto finished = phone.events->finished();
        EXPECT_EQ(!finished.empty() && finished[0].error.isNull(), row.received);
        if (row.received) {
            EXPECT_EQ(finished[0].sha256, sha256OfFile(vc->currentBackupPath()));
        }
        EXPECT_FALSE(vc->currentBackupPath().isEmpty()) << "the archive stays offered";
        if (QLatin1String(row.outcome) == QLatin1String("was remembered with another key"))
            ZNFPinnedPeers(ZNFPeerIdentity::configFolder()).forget(QStringLiteral("Phone"));
        if (!row.received && QLatin1String(row.outcome).startsWith(QLatin1String("The transfer did not"))) {
            clickText("Try again");
            EXPECT_TRUE(vc->multipeerController()) << "the same archive is offered again";
            EXPECT_TRUE(showsPart("Attempting to send"));
            click(0);
        }
        if (QLatin1String(row.outcome) == QLatin1String("Make a new key")) {
            clickText("Make a new key");
            EXPECT_TRUE(vc->multipeerController()) << "a new key is made and the send starts";
            click(0);
        }
    }
}

// The menu's "Send to Tessanote" advertises the last archive again and changes no screen;
// after a restart it finds the newest converted archive, or says there is none.
TEST_F(SendTest, TheMenuAdvertisesWithoutChangingTheScreen) {
    const QString archive = vc->currentBackupPath();
    for (const bool restarted : {false, true}) {
        SCOPED_TRACE(restarted ? "after a restart" : "the last archive");
        if (restarted)
            vc->setCurrentBackupPath(QString());
        auto before = vc->multipeerController();
        const ZNFLayoutItemList shown = vc->currentItems();
        ZNFNotificationCenter::defaultCenter().postNotificationName("sendToTessanote");
        ASSERT_TRUE(vc->multipeerController());
        EXPECT_NE(vc->multipeerController(), before);
        if (before) {
            EXPECT_TRUE(before->allAdvertisers().isEmpty()) << "the old controller was disconnected";
        }
        EXPECT_EQ(vc->currentItems(), shown) << "the menu changes no screen";
        EXPECT_EQ(vc->currentBackupPath(), archive);
    }
    QFile::remove(archive);
    vc->setCurrentBackupPath(QString());
    ZNFNotificationCenter::defaultCenter().postNotificationName("sendToTessanote");
    EXPECT_FALSE(vc->multipeerController());
    EXPECT_TRUE(shows("There is no converted archive to send yet. Convert your notes first."));
}
