// The wireless send, end to end in one process: the app advertises, a stand-in phone (a
// second multipeer controller) finds it, invites it and receives the archive.
#include "TestSupport.h"
#include "app/ZNFMacNotecrateViewController.h"
#include "app/ZNFNotecrateWindowController.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "multipeer/ZNFMultipeerController.h"
#include "platform/ZNFCollectionView.h"
#include "platform/ZNFNotificationCenter.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "support/AppTestSupport.h"

#include <QFile>
#include <QMainWindow>
#include <QMutex>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Plays the phone: browses "sfn", invites the first computer found and keeps what it sends.
struct Phone {
    std::shared_ptr<ZNFMultipeerController> controller =
        std::make_shared<ZNFMultipeerController>(QStringLiteral("sfn"), QStringLiteral("Phone"));
    QMutex mutex;
    QString receivedName;
    QByteArray receivedBytes;
    std::atomic<bool> finished{false};
    std::atomic<int> invitations{0};
    bool refuses = false; // cancels the archive as soon as it is announced

    void start() {
        auto session = controller->session();
        controller->registerResourceHandlerForSession(
            session,
            [this](const auto&, const QString&, const ZNFPeerID&,
                   const std::shared_ptr<ZNFProgress>& progress) {
                if (refuses)
                    progress->cancel();
            },
            [this](const auto&, const QString& name, const ZNFPeerID&, const QUrl& url,
                   const ZNFPeerError& error) {
                QMutexLocker lock(&mutex);
                if (error.isNull()) {
                    receivedName = name;
                    QFile file(url.toLocalFile());
                    if (file.open(QIODevice::ReadOnly))
                        receivedBytes = file.readAll();
                }
                finished = true;
            });
        std::weak_ptr<ZNFMultipeerController> weak = controller;
        controller->startBrowsing([this, weak](const std::shared_ptr<ZNFPeerBrowser>& browser,
                                               const ZNFPeerID& peer, const ZNFDiscoveryInfo&) {
            auto c = weak.lock();
            if (!c || invitations++ > 0)
                return;
            c->invitePeer(peer, browser, {}, 10, [](const auto&, const ZNFPeerID&, qint64) {});
        });
    }
};

class SendTest : public ::testing::Test {
protected:
    ScopedHome home;
    std::unique_ptr<ZNFNotecrateWindowController> window;
    std::shared_ptr<ZNFMacNotecrateViewController> vc;

    void SetUp() override {
        // Discovery within this process only: nothing reaches the machine's network.
        ZNFPeerDiscovery::setBackend(ZNFPeerDiscovery::Backend::Loopback);
        window = std::make_unique<ZNFNotecrateWindowController>();
        window->showWindow();
        vc = window->contentViewController();
        writeFile(home.root() + "/Vesper/Active Notes/One.txt", "Hello\n");
        vc->openPanel = [this](const QUrl&) -> std::optional<QUrl> {
            return QUrl::fromLocalFile(home.root() + "/Vesper");
        };
        vc->navigateToItems(vc->vesperScreen1Items());
        vc->openVesperFilePicker();
        ASSERT_TRUE(
            waitUntil([&] { return textsOf(vc->currentItems()).contains("Send Wirelessly"); }, 15000));
    }
    void TearDown() override {
        vc.reset();
        window.reset();
    }

    void clickItem(int index) {
        ASSERT_TRUE(clickCell(vc->collectionViewController()->collectionView(), index));
    }
};

} // namespace

TEST_F(SendTest, ThePhoneReceivesTheArchiveAndTheSentScreenFollows) {
    LogCapture log;
    int itemIndex = -1;
    for (int i = 0; i < int(vc->currentItems().size()); ++i)
        if (textOf(vc->currentItems()[size_t(i)]) == "Send Wirelessly")
            itemIndex = i;
    ASSERT_GE(itemIndex, 0);
    clickItem(itemIndex);
    EXPECT_TRUE(textsOf(vc->currentItems()).contains("Attempting to send your notes over the air."));
    ASSERT_TRUE(vc->multipeerController());
    EXPECT_TRUE(log.contains("Attempting wireless connection..."));

    Phone phone;
    phone.start();
    ASSERT_TRUE(waitUntil([&] { return textsOf(vc->currentItems()).contains("Success!"); }, 20000));
    ASSERT_TRUE(waitUntil([&] { return phone.finished.load(); }, 5000));
    {
        QMutexLocker lock(&phone.mutex);
        EXPECT_EQ(phone.receivedName, "Vesper_to_Tessanote.notebackup");
        EXPECT_EQ(phone.receivedBytes, readFile(vc->currentBackupPath()));
    }
    EXPECT_FALSE(vc->multipeerController()) << "the send ends with the controller let go";
    EXPECT_TRUE(log.contains("Sending resource: "));
    EXPECT_TRUE(log.contains("Sent resource! "));
    // Back from the sent screen leads to the start screen.
    ASSERT_EQ(vc->navigationStack().size(), 1u);
    clickItem(0);
    EXPECT_EQ(textsOf(vc->currentItems()), QStringList{"Which app would you like to import from?"});
    phone.controller->disconnect();

    // A phone that does not keep the archive: the send ends on the error screen, not "Success!".
    vc->sendToTessanote();
    Phone refusing;
    refusing.refuses = true;
    refusing.start();
    ASSERT_TRUE(waitUntil(
        [&] { return textsOf(vc->currentItems()).contains("The transfer did not finish. Try again."); },
        20000));
    EXPECT_FALSE(textsOf(vc->currentItems()).contains("Success!"));
    EXPECT_FALSE(vc->multipeerController());
    refusing.controller->disconnect();
}

TEST_F(SendTest, TheNotificationRestartsAdvertisingWithANewController) {
    vc->sendToTessanote();
    auto first = vc->multipeerController();
    ASSERT_TRUE(first);
    const ZNFLayoutItemList shown = vc->currentItems();
    ZNFNotificationCenter::defaultCenter().postNotificationName("sendToTessanote");
    auto second = vc->multipeerController();
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->allAdvertisers().isEmpty()) << "the old controller was disconnected";
    EXPECT_EQ(second->allAdvertisers().size(), 1);
    EXPECT_EQ(vc->currentItems(), shown) << "the notification changes no screen";
    // Back ends the send.
    vc->navigateToItems(vc->sendWirelesslyItems());
    clickItem(0);
    EXPECT_FALSE(vc->multipeerController());
    EXPECT_TRUE(second->allAdvertisers().isEmpty());
}
