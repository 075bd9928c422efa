#pragma once

#include "conversion/ZNFConversionJob.h"
#include "conversion/ZNFConversionOutcome.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "layout/ZNFLayoutItem.h"
#include "multipeer/ZNFTransferEstimate.h"
#include "platform/ZNFViewController.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ZNFLayoutCollectionViewController;
class ZNFMultipeerController;
class ZNFNotesAppImporter;
class ZNFTextFormatter;
class ZNFPeerError;
class ZNFPeerID;
class ZNFWirelessSender;
class ZNFTextLayoutItem;
struct ZNFNoteListState;

// What a conversion under way has reported: notes done of the total, the total unknown (-1)
// until the first report.
struct ZNFConversionProgress {
    qint64 done = 0;
    qint64 total = -1;
};

inline constexpr QLatin1StringView ZNFNotecrate_stylesResource{"notecrateStyles"};
inline constexpr double ZNFNotecrate_maximumContentWidth = 640;
inline constexpr QLatin1StringView ZNFNotecrate_vesperHelpResource{"help/vesper-export.html"};

// The application's flow: owns the screens (through the layout collection view), the
// navigation stack for Back, both conversions and both ways of delivery.
class ZNFMacNotecrateViewController : public ZNFViewController {
    Q_OBJECT
public:
    using Screen = ZNFLayoutItemList;

    ZNFMacNotecrateViewController();
    ~ZNFMacNotecrateViewController() override;

    // Properties.
    // The controller of the wireless send under way, or none.
    std::shared_ptr<ZNFMultipeerController> multipeerController() const;
    std::shared_ptr<ZNFLayoutCollectionViewController> collectionViewController() const {
        return m_collectionViewController;
    }
    std::shared_ptr<ZNFTextFormatter> textFormatter() const { return m_textFormatter; }
    const std::vector<Screen>& navigationStack() const { return m_navigationStack; }
    std::shared_ptr<ZNFNotesAppImporter> notesAppImporter() const { return m_notesAppImporter; }
    QString currentBackupPath() const;
    void setCurrentBackupPath(const QString& path);
    qint64 currentBackupNoteCount() const { return m_currentBackupNoteCount; }
    void setCurrentBackupNoteCount(qint64 count) { m_currentBackupNoteCount = count; }
    qint64 currentBackupAttachmentCount() const { return m_currentBackupAttachmentCount; }
    void setCurrentBackupAttachmentCount(qint64 count) { m_currentBackupAttachmentCount = count; }
    // "3 locked notes and 1 PDF left out", shown under the count; empty when nothing was.
    QString currentBackupLeftOut() const { return m_currentBackupLeftOut; }
    // All of what the conversion left out: the phrase, the items one by one and their number.
    void setCurrentBackupLeftOut(const ZNFConversionOutcome& outcome);
    const std::vector<ZNFLeftOutItem>& currentBackupLeftOutItems() const {
        return m_currentBackupLeftOutItems;
    }

    // The list of the current archive's notes, read from the archive, then what was left out,
    // narrowed to the rows that hold `filter`.
    Screen noteListItems(const QString& filter = {});
    // From the backup screen, which Back returns to.
    void showNoteList();
    // The list again, narrowed; the filter's own typing calls it.
    void setNoteListFilter(const QString& filter);
    // Whether this computer has the iCloud Drive folder the phone app imports from.
    static bool hasICloudDrive();

    // Flow.
    void setupTextFormatter();
    static QUrl iCloudURL();
    // Where the open and save panels start: iCloudURL() when that folder exists, else the
    // Documents folder, else home.
    static QUrl panelStartURL();
    void navigateToItems(const Screen& items);
    void popNavigationStack();
    // Without a folder: the Notes app's notes through its export script; with one: the notes of
    // that copied Notes folder.
    void convertFromNotesApp(const QString& notesFolder = {});
    // Where the script cannot run: a folder chooser for a copied Notes folder, then its conversion.
    void openNotesFolderPicker();
    void updateToShowBackup();
    // Does nothing while a Vesper conversion runs.
    void openVesperFilePicker();
    // A conversion run through runConversion() is under way.
    bool isConverting() const { return bool(m_conversion); }
    // Every source but the Notes app's script converts here: shows the progress screen (the
    // source's icon, a bar and the counts), cancels on Back, and ends on the backup screen or,
    // when there is no archive with a note, on the error screen `showError` makes of
    // `errorMessage` (its "%1", if any, the source's own reason). Stops a conversion already
    // under way.
    void runConversion(std::unique_ptr<ZNFConversionJob> job, const QString& iconName,
                       void (ZNFMacNotecrateViewController::*showError)(const QString&),
                       const QString& errorMessage);
    // Stops every conversion under way and waits (at most `waitMs`) for them to remove their
    // partial files; quitting calls it so that the process does not outlive its window.
    void cancelConversions(int waitMs);
    // Google Keep: a Takeout archive (one or several parts) or its folder, then its conversion.
    // Does nothing while a conversion runs.
    void openKeepFilePicker();
    // Evernote: one or several .enex files, converted into one archive. Does nothing while a
    // conversion runs.
    void openEvernoteFilePicker();
    void showVesperError(const QString& message);
    void showNotesError(const QString& message);
    void showKeepError(const QString& message);
    void showEvernoteError(const QString& message);
    void presentSavePanel();
    void showBackupSuccess();
    void sendToTessanote();
    // Escape: Back, on every screen that offers it.
    void goBack();

    // Screens: every call returns new items.
    Screen initialScreenItems();
    Screen notesAppScreen1Items();
    Screen notesAppScreen2Items();
    Screen vesperScreen1Items();
    Screen keepScreen1Items();
    Screen evernoteScreen1Items();
    // The Vesper conversion under way: a spinner, then a bar and a count once the total is known.
    Screen vesperScreen2Items();
    // A conversion under way, under the source's icon.
    Screen conversionProgressItems(const QString& iconName);
    Screen currentBackupItems();
    Screen backupSuccessItems();
    Screen sendWirelesslyItems();
    // The archive on its way to the phone: a bar, "Sending 1.2 GB of 4.6 GB" and the time left
    // (secondsLeft -1: not known yet).
    Screen sendProgressItems(qint64 sent, qint64 total, qint64 secondsLeft);
    Screen wirelessSuccessItems(bool transferred = true);
    Screen sendConfirmationItems(const QString& phone, const QString& code);
    Screen sendFailedItems(const QString& message, const QString& action,
                           std::function<void()> beforeRetry = {});
    // The phone on the confirmation screen may have the archive.
    void confirmSend();
    std::shared_ptr<ZNFLayoutItem> backButton();
    std::shared_ptr<ZNFLayoutItem> iconItemWithName(const QString& name);
    // A spinner; with a progress, a bar once its total is known.
    std::shared_ptr<ZNFLayoutItem> progressItem(std::shared_ptr<const ZNFConversionProgress> progress = {});

    // What stands in for the platform's panels and workspace; tests replace them.
    // The open panel answers the chosen folder, or nothing when cancelled; panelCaption() says
    // what it asks for.
    std::function<std::optional<QUrl>(const QUrl& start)> openPanel;
    // The file chooser answers the chosen files, or a folder when `foldersToo` allows one, or
    // nothing when cancelled; `nameFilters` are the dialog's ("Evernote export (*.enex)").
    std::function<QList<QUrl>(const QUrl& start, const QStringList& nameFilters, bool foldersToo)>
        openFilesPanel;
    // The save panel answers the chosen file, or nothing when cancelled.
    std::function<std::optional<QUrl>(const QUrl& start, const QString& name)> savePanel;
    // Launches an application by name; false when there is none to launch.
    std::function<bool(const QString& name)> launchApplication;
    // Whether the Notes app's export script can run on this computer.
    std::function<bool()> canRunNotesScript;

    // The text item an item shows: itself, or the one item of a one-slot table (buttons, links
    // and banners sit in one); none for anything else.
    static std::shared_ptr<ZNFTextLayoutItem> textItemIn(const std::shared_ptr<ZNFLayoutItem>& item);

    // The items on display.
    const Screen& currentItems() const;
    const QString& panelCaption() const { return m_panelCaption; }

protected:
    void viewDidLoad() override;

public:
    // Sets the items on display and reloads, leaving the stack alone.
    void showScreen(const Screen& items);

private:
    void resetStackAndShow(const Screen& items);
    void showError(Screen screen, const QString& message);
    // Ends the send under way, if any, so that no outcome of it reaches the screens.
    void stopSending();
    // Shows a screen of the send: in place of the one the send showed last, else on top.
    void showSendScreen(const Screen& items);
    void sendFinished(const ZNFPeerID& phone, const ZNFPeerError& error);
    void backAction();
    void acceptConversion(const QString& path, qint64 notes, qint64 attachments);
    // What both conversions call back: a path and a note show the backup screen, anything
    // else the given error screen.
    // Only the screen showing when a conversion starts may be replaced by its outcome; an
    // error screen takes the place of the progress screen, so one Back leaves it.
    ZNFImporterCompletion
    conversionCompletion(void (ZNFMacNotecrateViewController::*showError)(const QString&),
                         QString errorMessage);
    std::shared_ptr<ZNFLayoutItem> textItem(const QString& text, const char* style);
    void applyBox(const std::shared_ptr<ZNFTextLayoutItem>& item, const char* style);
    // A button in the middle of its line, taking clicks only on itself.
    std::shared_ptr<ZNFLayoutItem> centred(const std::shared_ptr<ZNFLayoutItem>& item);
    std::shared_ptr<ZNFLayoutItem> linkItem(const QString& text, std::function<void()> action);
    std::shared_ptr<ZNFLayoutItem> archiveIcon();
    std::shared_ptr<ZNFLayoutItem> errorItem(const QString& message);
    // A source's screen: the back item, its icon, the button that chooses its export and, under
    // it, where that export comes from.
    Screen sourceScreenItems(const QString& iconName, const QString& choose,
                             void (ZNFMacNotecrateViewController::*open)(), const QString& help);
    // Converts what the file chooser answers with `convert`; nothing when it was cancelled.
    void chooseAndConvert(const QString& caption, const QStringList& nameFilters, bool foldersToo,
                          const QString& iconName,
                          ZNFConversionOutcome (*convert)(const QStringList&,
                                                          const ZNFConversionProgressHandler&,
                                                          const ZNFConversionCancelFlag&),
                          void (ZNFMacNotecrateViewController::*showError)(const QString&),
                          const QString& errorMessage);
    std::shared_ptr<ZNFLayoutItem> showNotesLink();
    // The listing of the current archive, read again only when the archive changed.
    std::shared_ptr<ZNFNoteListState> noteListState();
    std::weak_ptr<ZNFMacNotecrateViewController> weakSelf();
    void showConversionProgress(qint64 done, qint64 total);
    // Cancels the conversion under way, if any; its outcome never reaches the screens.
    void stopConversion();

    mutable QMutex m_mutex;                // the backup path may be read from any thread
    ZNFWirelessSender* m_sender = nullptr; // the send under way: at most one
    bool m_sendScreenShown = false;        // the screen on display belongs to the send
    ZNFTransferEstimate m_sendEstimate;    // of the send under way

    std::shared_ptr<ZNFLayoutCollectionViewController> m_collectionViewController;
    std::shared_ptr<ZNFTextFormatter> m_textFormatter;
    std::vector<Screen> m_navigationStack;
    std::shared_ptr<ZNFNotesAppImporter> m_notesAppImporter;
    QString m_currentBackupPath;
    qint64 m_currentBackupNoteCount = 0;
    qint64 m_currentBackupAttachmentCount = 0;
    QString m_currentBackupLeftOut; // what the conversion could not carry, in one phrase; may be empty
    std::vector<ZNFLeftOutItem> m_currentBackupLeftOutItems;
    qint64 m_currentBackupLeftOutTotal = 0; // named or only counted
    std::shared_ptr<ZNFNoteListState> m_noteList;
    int m_notificationToken = 0;
    std::unique_ptr<ZNFConversionJob> m_conversion; // the conversion under way, if any
    std::shared_ptr<ZNFConversionProgress> m_conversionProgress;
    std::weak_ptr<ZNFTextLayoutItem> m_conversionProgressText;
    bool m_progressReloadPending = false;
    QString m_panelCaption;
};

// Acts only on a left-mouse-down, as every handler of the application does.
std::function<void(const ZNFEvent&, ZNFCollectionViewItem*, QWidget*)>
ZNFOnLeftMouseDown(std::function<void()> action);
