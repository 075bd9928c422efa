#include "app/ZNFMacNotecrateViewController.h"

#include "app/ZNFAppLog.h"
#include "app/ZNFNoteListItems.h"
#include "app/ZNFNotecrateWindowController.h"
#include "conversion/ZNFConversionJob.h"
#include "conversion/ZNFEvernoteImporter.h"
#include "conversion/ZNFKeepNoteImporter.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "layout/ZNFLayoutItemInteraction.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"
#include "multipeer/ZNFWirelessSender.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFFileWrite.h"
#include "platform/ZNFNotificationCenter.h"
#include "platform/ZNFPaths.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "text/ZNFPropertyList.h"
#include "text/ZNFTextFormatter.h"
#include "tools/ZNFCommandLine.h"

#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace {

// Chooses files, or with `foldersToo` a folder instead: "Open" on a selected folder takes it
// rather than opening it (a double click still opens it). Qt's own dialog, as a platform's
// cannot do both in one.
class ZNFFileOrFolderDialog : public QFileDialog {
public:
    ZNFFileOrFolderDialog(QWidget* parent, const QString& caption, const QString& start, bool foldersToo)
        : QFileDialog(parent, caption, start), m_foldersToo(foldersToo) {
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::ExistingFiles);
    }

    void accept() override {
        const QStringList files = selectedFiles();
        if (m_foldersToo && files.size() == 1 && QFileInfo(files.front()).isDir()) {
            m_folder = files.front();
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

    QStringList chosen() const { return m_folder.isEmpty() ? selectedFiles() : QStringList{m_folder}; }

private:
    bool m_foldersToo;
    QString m_folder;
};

// An importer's reason as a sentence under the message: "No such file or folder: x."
QString reasonSentence(QString reason) {
    reason = reason.trimmed();
    if (reason.isEmpty())
        return reason;
    reason[0] = reason[0].toUpper();
    if (!reason.endsWith(u'.') && !reason.endsWith(u'!') && !reason.endsWith(u'?'))
        reason += u'.';
    return reason;
}

} // namespace

std::function<void(const ZNFEvent&, ZNFCollectionViewItem*, QWidget*)>
ZNFOnLeftMouseDown(std::function<void()> action) {
    return [action = std::move(action)](const ZNFEvent& event, ZNFCollectionViewItem*, QWidget*) {
        if (event.type() == ZNFEventTypeLeftMouseDown && action)
            action();
    };
}

ZNFMacNotecrateViewController::ZNFMacNotecrateViewController() {
    // The choosers are the window's own dialogs and say what they ask for.
    openPanel = [this](const QUrl& start) -> std::optional<QUrl> {
        const QString folder =
            QFileDialog::getExistingDirectory(view()->window(), m_panelCaption, start.toLocalFile());
        if (folder.isEmpty())
            return std::nullopt;
        return QUrl::fromLocalFile(folder);
    };
    openFilesPanel = [this](const QUrl& start, const QStringList& nameFilters, bool foldersToo) {
        ZNFFileOrFolderDialog dialog(view()->window(), m_panelCaption, start.toLocalFile(), foldersToo);
        dialog.setNameFilters(nameFilters);
        QList<QUrl> chosen;
        if (dialog.exec() == QDialog::Accepted)
            for (const QString& path : dialog.chosen())
                chosen << QUrl::fromLocalFile(path);
        return chosen;
    };
    savePanel = [this](const QUrl& start, const QString& name) -> std::optional<QUrl> {
        const QString file =
            QFileDialog::getSaveFileName(view()->window(), ZNFLocalizedString("Save the backup"),
                                         QDir(start.toLocalFile()).filePath(name));
        if (file.isEmpty())
            return std::nullopt;
        return QUrl::fromLocalFile(file);
    };
    launchApplication = [](const QString& name) {
#ifdef Q_OS_MACOS
        return QProcess::startDetached(QStringLiteral("/usr/bin/open"), {QStringLiteral("-a"), name});
#else
        qCWarning(lcApp()).noquote() << QStringLiteral("The %1 app can only be opened on a Mac").arg(name);
        return false;
#endif
    };
    canRunNotesScript = &ZNFNotesAppImporter::canRunExportScript;
}

ZNFMacNotecrateViewController::~ZNFMacNotecrateViewController() {
    if (m_notificationToken)
        ZNFNotificationCenter::defaultCenter().removeObserver(m_notificationToken);
    stopSending();
    // A run still under way must not call back into a controller that is gone.
    cancelConversions(0);
}

std::weak_ptr<ZNFMacNotecrateViewController> ZNFMacNotecrateViewController::weakSelf() {
    return std::static_pointer_cast<ZNFMacNotecrateViewController>(shared_from_this());
}

std::shared_ptr<ZNFMultipeerController> ZNFMacNotecrateViewController::multipeerController() const {
    return m_sender ? m_sender->controller() : nullptr;
}

QString ZNFMacNotecrateViewController::currentBackupPath() const {
    QMutexLocker lock(&m_mutex);
    return m_currentBackupPath;
}

void ZNFMacNotecrateViewController::setCurrentBackupPath(const QString& path) {
    {
        QMutexLocker lock(&m_mutex);
        m_currentBackupPath = path;
    }
    qCInfo(lcApp()).noquote() << QStringLiteral("setCurrent Backup: %1").arg(path);
}

const ZNFMacNotecrateViewController::Screen& ZNFMacNotecrateViewController::currentItems() const {
    return m_collectionViewController->layoutItems();
}

void ZNFMacNotecrateViewController::viewDidLoad() {
    ZNFViewController::viewDidLoad();
    m_navigationStack.clear();
    // Held weakly: the centre outlives this controller.
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    m_notificationToken = ZNFNotificationCenter::defaultCenter().addObserver(
        ZNFNotecrateNotification_sendToTessanote, [weak](const QString&) {
            if (auto self = weak.lock())
                self->sendToTessanote();
        });
    setupTextFormatter();

    // A white page: the button-like texts are framed in white to stand apart from each other.
    view()->setBackgroundColor(Qt::white);
    m_collectionViewController = std::make_shared<ZNFLayoutCollectionViewController>();
    addChildViewController(m_collectionViewController);
    ZNFView* child = m_collectionViewController->view();
    child->setFrame(view()->bounds());
    view()->addSubview(child);
    child->setAutoresizingMask(ZNFView::WidthSizable | ZNFView::HeightSizable);
    // Lines longer than this are hard to read; a wide window centres the content instead.
    m_collectionViewController->setMaximumContentWidth(ZNFNotecrate_maximumContentWidth);
    // Rows and the filter field reuse only cells of their own kind: a reused row keeps its
    // view, and the field keeps the focus while its typing reloads the list.
    m_collectionViewController->registerViewProvider(nullptr, ZNFNoteRowItemKind);
    m_collectionViewController->registerViewProvider(nullptr, ZNFNoteFilterItemKind);

    showScreen(initialScreenItems());
}

void ZNFMacNotecrateViewController::setupTextFormatter() {
    m_textFormatter = std::make_shared<ZNFTextFormatter>();
    const QString path =
        ZNFBundle::mainBundle().pathForResource(ZNFNotecrate_stylesResource, QStringLiteral("plist"));
    QString error;
    // The colours of the focus, hover and pressed states of buttons and links.
    const QVariantMap states = ZNFPropertyListFromFile(path).toMap().value(QStringLiteral("states")).toMap();
    ZNFLayoutItemInteraction::StateColors colors;
    for (auto [key, color] :
         {std::pair{"focus", &colors.focus}, {"hover", &colors.hover}, {"pressed", &colors.pressed}})
        if (states.contains(QLatin1StringView(key)))
            *color = ZNFTextFormatter::colorFromString(states.value(QLatin1StringView(key)));
    ZNFLayoutItemInteraction::setStateColors(colors);
    if (path.isEmpty() || !m_textFormatter->registerKeyedAttributesFromFile(path, &error))
        qCWarning(lcApp()).noquote() << QStringLiteral("No styles registered from %1: %2")
                                            .arg(ZNFNotecrate_stylesResource,
                                                 path.isEmpty() ? QStringLiteral("resource not found")
                                                                : error);
}

QUrl ZNFMacNotecrateViewController::iCloudURL() {
    return QUrl::fromLocalFile(ZNFPaths::iCloudDriveDirectory());
}

bool ZNFMacNotecrateViewController::hasICloudDrive() {
    return QFileInfo(iCloudURL().toLocalFile()).isDir();
}

QUrl ZNFMacNotecrateViewController::panelStartURL() {
    // iCloud Drive where the phone app imports from; where there is none, the folder people
    // keep their files in, from where they move them to the phone.
    if (hasICloudDrive())
        return iCloudURL();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QUrl::fromLocalFile(
        !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : ZNFPaths::homeDirectory());
}

void ZNFMacNotecrateViewController::showScreen(const Screen& items) {
    m_collectionViewController->setLayoutItems(items);
    m_collectionViewController->collectionView()->reloadData();
}

void ZNFMacNotecrateViewController::navigateToItems(const Screen& items) {
    m_sendScreenShown = false;
    m_navigationStack.push_back(m_collectionViewController->layoutItems());
    showScreen(items);
}

void ZNFMacNotecrateViewController::popNavigationStack() {
    m_sendScreenShown = false;
    const Screen top = m_navigationStack.empty() ? initialScreenItems() : m_navigationStack.back();
    showScreen(top);
    if (!m_navigationStack.empty())
        m_navigationStack.pop_back();
}

void ZNFMacNotecrateViewController::resetStackAndShow(const Screen& items) {
    m_sendScreenShown = false;
    m_navigationStack.clear();
    m_navigationStack.push_back(initialScreenItems());
    showScreen(items);
}

std::shared_ptr<ZNFTextLayoutItem>
ZNFMacNotecrateViewController::textItemIn(const std::shared_ptr<ZNFLayoutItem>& item) {
    if (auto table = std::dynamic_pointer_cast<ZNFTableLayoutItem>(item)) {
        if (table->rows().size() != 1 || !table->rows()[0] || table->rows()[0]->columns().size() != 1)
            return nullptr;
        const auto& column = table->rows()[0]->columns()[0];
        return column && column->items().size() == 1 ? textItemIn(column->items()[0]) : nullptr;
    }
    return std::dynamic_pointer_cast<ZNFTextLayoutItem>(item);
}

void ZNFMacNotecrateViewController::goBack() {
    const auto first = currentItems().empty() ? nullptr : textItemIn(currentItems().front());
    // Every screen but the start screen begins with its back item.
    if (first && first->attributedString().string() == ZNFLocalizedString("‹ Back"))
        backAction();
}

void ZNFMacNotecrateViewController::backAction() {
    stopConversion();
    if (m_notesAppImporter && m_notesAppImporter->isImporting())
        m_notesAppImporter->cancel();
    stopSending();
    popNavigationStack();
}

void ZNFMacNotecrateViewController::acceptConversion(const QString& path, qint64 notes, qint64 attachments) {
    setCurrentBackupPath(path);
    m_currentBackupNoteCount = notes;
    m_currentBackupAttachmentCount = attachments;
    updateToShowBackup();
}

ZNFImporterCompletion ZNFMacNotecrateViewController::conversionCompletion(
    void (ZNFMacNotecrateViewController::*showError)(const QString&), QString errorMessage) {
    // Holds this controller weakly: a conversion that outlives the window does nothing.
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    // Screens are never changed in place, so their first item tells them apart.
    std::weak_ptr<ZNFLayoutItem> startedOn = currentItems().empty() ? nullptr : currentItems().front();
    return [weak, startedOn, showError, errorMessage](const ZNFConversionOutcome& outcome) {
        auto self = weak.lock();
        if (!self)
            return;
        const auto started = startedOn.lock();
        if (!started || self->currentItems().empty() || self->currentItems().front() != started) {
            qCInfo(lcApp()).noquote()
                << QStringLiteral(
                       "A conversion finished after its screen was left; its outcome %1 is not shown")
                       .arg(outcome.path);
            return;
        }
        if (outcome.succeeded()) {
            self->setCurrentBackupLeftOut(outcome);
            self->acceptConversion(outcome.path, outcome.notes, outcome.attachments);
            return;
        }
        // The progress screen gives way to the error screen instead of lying below it.
        if (!self->m_navigationStack.empty())
            self->m_navigationStack.pop_back();
        ((*self).*showError)(errorMessage.contains(u"%1")
                                 ? errorMessage.arg(reasonSentence(outcome.failure)).trimmed()
                                 : errorMessage);
    };
}

void ZNFMacNotecrateViewController::convertFromNotesApp(const QString& notesFolder) {
    if (notesFolder.isEmpty() && canRunNotesScript && !canRunNotesScript()) {
        // Not "no notes": the export was never possible here. The error takes the progress
        // screen's place so that one Back leaves it.
        if (!m_navigationStack.empty())
            m_navigationStack.pop_back();
        showNotesError(ZNFLocalizedString("Exporting from the Notes app needs macOS. Copy your Mac’s Notes "
                                          "folder to this computer and choose it here instead."));
        return;
    }
    // One importer per source, kept for the next run of the same source.
    if (!m_notesAppImporter || m_notesAppImporter->notesFolder() != notesFolder) {
        if (m_notesAppImporter && m_notesAppImporter->isImporting())
            m_notesAppImporter->cancel();
        m_notesAppImporter = std::make_shared<ZNFNotesAppImporter>(notesFolder);
    }
    m_notesAppImporter->import(conversionCompletion(
        &ZNFMacNotecrateViewController::showNotesError,
        notesFolder.isEmpty()
            ? ZNFLocalizedString(
                  "No notes were found. Open the Notes app, wait for it to update, and try again.")
            : ZNFLocalizedString(
                  "No notes were found in that folder. Choose the copied Notes folder, the one "
                  "that holds NoteStore.sqlite.")));
}

void ZNFMacNotecrateViewController::openNotesFolderPicker() {
    m_panelCaption = ZNFLocalizedString("Choose the copied Notes folder");
    const std::optional<QUrl> chosen = openPanel ? openPanel(panelStartURL()) : std::nullopt;
    if (!chosen)
        return;
    if (!chosen->isLocalFile() || !QFileInfo(chosen->toLocalFile()).isDir()) {
        showNotesError(ZNFLocalizedString("No folder was chosen. Choose the copied Notes folder, the one "
                                          "that holds NoteStore.sqlite."));
        return;
    }
    navigateToItems(notesAppScreen2Items());
    convertFromNotesApp(chosen->toLocalFile());
}

void ZNFMacNotecrateViewController::updateToShowBackup() {
    resetStackAndShow(currentBackupItems());
}

void ZNFMacNotecrateViewController::openVesperFilePicker() {
    // One conversion at a time: a second click while one runs must not start another.
    if (isConverting())
        return;
    m_panelCaption = ZNFLocalizedString("Choose the Vesper export folder");
    const std::optional<QUrl> chosen = openPanel ? openPanel(panelStartURL()) : std::nullopt;
    if (!chosen || !chosen->isLocalFile())
        return;
    const QString path = chosen->toLocalFile();
    runConversion(std::make_unique<ZNFConversionJob>([path](const ZNFConversionProgressHandler& progress,
                                                            const ZNFConversionCancelFlag& cancelled) {
                      return ZNFVesperNoteImporter::convert(path, progress, cancelled);
                  }),
                  QStringLiteral("appIcon_vesper"), &ZNFMacNotecrateViewController::showVesperError,
                  ZNFLocalizedString("Something went wrong—make sure you've selected \nthe correct "
                                     "file, and try again."));
}

void ZNFMacNotecrateViewController::openKeepFilePicker() {
    chooseAndConvert(
        ZNFLocalizedString("Choose your Google Takeout file or folder"),
        {ZNFLocalizedString("Google Takeout (*.zip *.tgz)"), ZNFLocalizedString("All files (*)")}, true,
        QStringLiteral("appIcon_keep"), &ZNFKeepNoteImporter::convert,
        &ZNFMacNotecrateViewController::showKeepError,
        ZNFLocalizedString("Something went wrong—make sure you've chosen your Google Takeout "
                           "file or folder, and try again.\n%1"));
}

void ZNFMacNotecrateViewController::openEvernoteFilePicker() {
    chooseAndConvert(ZNFLocalizedString("Choose your .enex files"),
                     {ZNFLocalizedString("Evernote export (*.enex)"), ZNFLocalizedString("All files (*)")},
                     false, QStringLiteral("appIcon_evernote"), &ZNFEvernoteImporter::convert,
                     &ZNFMacNotecrateViewController::showEvernoteError,
                     ZNFLocalizedString("Something went wrong—make sure you've chosen your .enex files, and "
                                        "try again.\n%1"));
}

void ZNFMacNotecrateViewController::chooseAndConvert(
    const QString& caption, const QStringList& nameFilters, bool foldersToo, const QString& iconName,
    ZNFConversionOutcome (*convert)(const QStringList&, const ZNFConversionProgressHandler&,
                                    const ZNFConversionCancelFlag&),
    void (ZNFMacNotecrateViewController::*showError)(const QString&), const QString& errorMessage) {
    // One conversion at a time: a second click while one runs must not start another.
    if (isConverting())
        return;
    m_panelCaption = caption;
    const QList<QUrl> chosen =
        openFilesPanel ? openFilesPanel(panelStartURL(), nameFilters, foldersToo) : QList<QUrl>();
    QStringList paths;
    for (const QUrl& url : chosen)
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty())
        return;
    qCInfo(lcApp()).noquote() << QStringLiteral("Converting %1").arg(paths.join(QStringLiteral(", ")));
    runConversion(
        std::make_unique<ZNFConversionJob>([paths, convert](const ZNFConversionProgressHandler& progress,
                                                            const ZNFConversionCancelFlag& cancelled) {
            return convert(paths, progress, cancelled);
        }),
        iconName, showError, errorMessage);
}

void ZNFMacNotecrateViewController::runConversion(
    std::unique_ptr<ZNFConversionJob> job, const QString& iconName,
    void (ZNFMacNotecrateViewController::*showError)(const QString&), const QString& errorMessage) {
    stopConversion();
    m_conversionProgress = std::make_shared<ZNFConversionProgress>();
    navigateToItems(conversionProgressItems(iconName));
    const ZNFImporterCompletion shown = conversionCompletion(showError, errorMessage);
    ZNFConversionJob* run = job.get();
    // Back deletes the job, which cancels it; signals of an older job are ignored.
    connect(run, &ZNFConversionJob::progress, this, [this, run](qint64 done, qint64 total) {
        if (m_conversion.get() == run)
            showConversionProgress(done, total);
    });
    connect(run, &ZNFConversionJob::finished, this, [this, run, shown](const ZNFConversionOutcome& outcome) {
        if (m_conversion.get() != run)
            return;
        // Deleted once its signal has returned.
        m_conversion.release()->deleteLater();
        shown(outcome);
    });
    m_conversion = std::move(job);
    run->start();
}

void ZNFMacNotecrateViewController::stopConversion() {
    if (m_conversion) {
        m_conversion->cancel();
        m_conversion.release()->deleteLater();
    }
}

void ZNFMacNotecrateViewController::showConversionProgress(qint64 done, qint64 total) {
    m_conversionProgress->done = done;
    m_conversionProgress->total = total;
    if (auto text = m_conversionProgressText.lock()) {
        const QLocale locale;
        auto fresh = textItem(ZNFLocalizedString("Converting %1 of %2 notes…")
                                  .arg(locale.toString(done), locale.toString(total)),
                              "centeredText");
        text->setAttributedString(std::static_pointer_cast<ZNFTextLayoutItem>(fresh)->attributedString());
    }
    // A report per note would redraw thousands of times: at most ten redraws a second.
    if (m_progressReloadPending)
        return;
    m_progressReloadPending = true;
    std::weak_ptr<ZNFMacNotecrateViewController> weak = weakSelf();
    QTimer::singleShot(100, this, [weak] {
        if (auto self = weak.lock()) {
            self->m_progressReloadPending = false;
            if (self->isConverting())
                self->m_collectionViewController->collectionView()->reloadData();
        }
    });
}

void ZNFMacNotecrateViewController::cancelConversions(int waitMs) {
    stopConversion();
    if (m_notesAppImporter && m_notesAppImporter->isImporting())
        m_notesAppImporter->cancel();
    // The runs see the flag between notes, then remove what they wrote.
    QDeadlineTimer deadline(waitMs);
    ZNFNotesAppImporter::waitForCancelledRuns(int(deadline.remainingTime()));
    ZNFConversionJob::waitForRuns(int(deadline.remainingTime()));
}

// A source's screen with the error under its back item.
void ZNFMacNotecrateViewController::showError(Screen screen, const QString& message) {
    screen.insert(screen.begin() + 1, errorItem(message));
    showScreen(screen);
}

void ZNFMacNotecrateViewController::showVesperError(const QString& message) {
    showError(vesperScreen1Items(), message);
}

void ZNFMacNotecrateViewController::showKeepError(const QString& message) {
    showError(keepScreen1Items(), message);
}

void ZNFMacNotecrateViewController::showEvernoteError(const QString& message) {
    showError(evernoteScreen1Items(), message);
}

void ZNFMacNotecrateViewController::showNotesError(const QString& message) {
    showError(notesAppScreen1Items(), message);
}

void ZNFMacNotecrateViewController::presentSavePanel() {
    const QString source = currentBackupPath();
    const QString name = QFileInfo(source).completeBaseName();
    const std::optional<QUrl> chosen = savePanel ? savePanel(panelStartURL(), name) : std::nullopt;
    if (!chosen)
        return;
    QString destination = chosen->toLocalFile();
    if (QFileInfo(destination).suffix() != u"notebackup")
        destination += QStringLiteral(".notebackup");

    // A failed save never costs the backup already there.
    if (!ZNFFileWrite::copyIntoPlace(source, destination)) {
        qCWarning(lcApp()).noquote()
            << QStringLiteral("Could not save the archive %1 to %2").arg(source, destination);
        Screen screen = currentBackupItems();
        screen.insert(screen.begin() + 1, errorItem(ZNFLocalizedString(
                                              "The archive could not be saved there. Choose another place "
                                              "and try again.")));
        showScreen(screen);
        return;
    }
    showBackupSuccess();
}

void ZNFMacNotecrateViewController::showBackupSuccess() {
    resetStackAndShow(backupSuccessItems());
}

void ZNFMacNotecrateViewController::sendToTessanote() {
    stopSending();
    QString archive = currentBackupPath();
    if (archive.isEmpty() || !QFileInfo(archive).isFile()) {
        // After a restart: the newest archive a conversion left, as `notecrate send` finds it.
        archive = ZNFLatestArchive();
        if (archive.isEmpty()) {
            qCInfo(lcApp()).noquote()
                << QStringLiteral("Not advertising: there is no converted archive to send yet");
            Screen screen = currentItems();
            screen.insert(screen.begin() + qMin<qsizetype>(1, qsizetype(screen.size())),
                          errorItem(ZNFLocalizedString("There is no converted archive to send yet. "
                                                       "Convert your notes first.")));
            showScreen(screen);
            return;
        }
        setCurrentBackupPath(archive);
    }
    auto* sender = new ZNFWirelessSender(this);
    m_sender = sender;
    connect(sender, &ZNFWirelessSender::confirmationNeeded, this, [this](const ZNFPeerID& phone) {
        showSendScreen(sendConfirmationItems(phone.displayName(), phone.verificationCode()));
    });
    connect(sender, &ZNFWirelessSender::finished, this, &ZNFMacNotecrateViewController::sendFinished);
    m_sendEstimate = ZNFTransferEstimate();
    connect(sender, &ZNFWirelessSender::progressed, this, [this, sender](qint64 sent, qint64 total) {
        const qint64 secondsLeft = m_sendEstimate.update(sent, total);
        if (m_sender == sender && m_sendEstimate.shouldRedraw(sent, total))
            showSendScreen(sendProgressItems(sent, total, secondsLeft));
    });
    if (sender->start(archive))
        return;
    const ZNFPeerError error = sender->startError();
    stopSending();
    if (error.code() == ZNFPeerError::IdentityDamaged) {
        qCWarning(lcApp()).noquote() << QStringLiteral("Cannot send: %1").arg(error.message());
        showSendScreen(sendFailedItems(
            ZNFLocalizedString(
                "This computer’s key for sending wirelessly is damaged. Make a new one? Phones "
                "that remembered this computer will show a new code once."),
            ZNFLocalizedString("Make a new key"), [] { ZNFPeerIdentity::replaceDevice(); }));
        return;
    }
    showSendScreen(sendFailedItems(ZNFLocalizedString("Sending wirelessly is not available right now: this "
                                                      "computer cannot be found on the network."),
                                   ZNFLocalizedString("Try again")));
}

void ZNFMacNotecrateViewController::confirmSend() {
    if (!m_sender)
        return;
    m_sender->confirm();
    showSendScreen(sendWirelesslyItems());
}

void ZNFMacNotecrateViewController::sendFinished(const ZNFPeerID& phone, const ZNFPeerError& error) {
    if (auto* sender = qobject_cast<ZNFWirelessSender*>(QObject::sender())) {
        if (m_sender == sender)
            m_sender = nullptr;
        sender->deleteLater();
    }
    if (error.code() == ZNFPeerError::PeerChanged) {
        const QString name = phone.displayName();
        resetStackAndShow(sendFailedItems(
            ZNFLocalizedString("“%1” was remembered with another key, so this may be another device using "
                               "its name. Nothing was sent. If the phone was reset or replaced, forget it "
                               "and send again.")
                .arg(name),
            ZNFLocalizedString("Forget this phone and try again"),
            [name] { ZNFPinnedPeers(ZNFPeerIdentity::configFolder()).forget(name); }));
        m_sendScreenShown = true;
        return;
    }
    resetStackAndShow(wirelessSuccessItems(error.isNull()));
}

void ZNFMacNotecrateViewController::showSendScreen(const Screen& items) {
    if (m_sendScreenShown) {
        showScreen(items);
        return;
    }
    navigateToItems(items);
    m_sendScreenShown = true;
}

void ZNFMacNotecrateViewController::stopSending() {
    if (!m_sender)
        return;
    m_sender->cancel();
    m_sender->deleteLater();
    m_sender = nullptr;
}
