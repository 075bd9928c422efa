#include "app/ZNFMacNotecrateViewController.h"

#include "app/ZNFNotecrateWindowController.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "conversion/ZNFVesperNoteImporter.h"
#include "layout/ZNFLayoutCollectionViewController.h"
#include "multipeer/ZNFWirelessSender.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFFileWrite.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFNotificationCenter.h"
#include "platform/ZNFPaths.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "text/ZNFTextFormatter.h"
#include "tools/ZNFCommandLine.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>

std::function<void(const ZNFEvent&, ZNFCollectionViewItem*, QWidget*)>
ZNFOnLeftMouseDown(std::function<void()> action) {
    return [action = std::move(action)](const ZNFEvent& event, ZNFCollectionViewItem*, QWidget*) {
        if (event.type() == ZNFEventTypeLeftMouseDown && action)
            action();
    };
}

ZNFMacNotecrateViewController::ZNFMacNotecrateViewController() {
    openPanel = [](const QUrl& start) -> std::optional<QUrl> {
        const QString folder = QFileDialog::getExistingDirectory(nullptr, QString(), start.toLocalFile());
        if (folder.isEmpty())
            return std::nullopt;
        return QUrl::fromLocalFile(folder);
    };
    savePanel = [](const QUrl& start, const QString& name) -> std::optional<QUrl> {
        const QString file =
            QFileDialog::getSaveFileName(nullptr, QString(), QDir(start.toLocalFile()).filePath(name));
        if (file.isEmpty())
            return std::nullopt;
        return QUrl::fromLocalFile(file);
    };
    launchApplication = [](const QString& name) {
#ifdef Q_OS_MACOS
        return QProcess::startDetached(QStringLiteral("/usr/bin/open"), {QStringLiteral("-a"), name});
#else
        ZNFLogf("The %@ app can only be opened on a Mac", name);
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
    if (m_notesAppImporter && m_notesAppImporter->isImporting())
        m_notesAppImporter->cancel();
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
    ZNFLogf("setCurrent Backup: %@", path);
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
        QLatin1String(ZNFNotecrateNotification_sendToTessanote), [weak](const QString&) {
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

    showScreen(initialScreenItems());
}

void ZNFMacNotecrateViewController::setupTextFormatter() {
    m_textFormatter = std::make_shared<ZNFTextFormatter>();
    const QString path = ZNFBundle::mainBundle().pathForResource(QLatin1String(ZNFNotecrate_stylesResource),
                                                                 QStringLiteral("plist"));
    QString error;
    if (path.isEmpty() || !m_textFormatter->registerKeyedAttributesFromFile(path, &error))
        ZNFLogf("No styles registered from %@: %@", QLatin1String(ZNFNotecrate_stylesResource),
                path.isEmpty() ? QStringLiteral("resource not found") : error);
}

QUrl ZNFMacNotecrateViewController::iCloudURL() {
    return QUrl::fromLocalFile(ZNFPaths::iCloudDriveDirectory());
}

QUrl ZNFMacNotecrateViewController::panelStartURL() {
    // iCloud Drive where the phone app imports from; the home folder where there is none.
    const QUrl iCloud = iCloudURL();
    return QFileInfo(iCloud.toLocalFile()).isDir() ? iCloud : QUrl::fromLocalFile(ZNFPaths::homeDirectory());
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

void ZNFMacNotecrateViewController::backAction() {
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
    return [weak, showError, errorMessage](const ZNFConversionOutcome& outcome) {
        auto self = weak.lock();
        if (!self)
            return;
        if (outcome.succeeded())
            self->acceptConversion(outcome.path, outcome.notes, outcome.attachments);
        else
            ((*self).*showError)(errorMessage);
    };
}

void ZNFMacNotecrateViewController::convertFromNotesApp(const QString& notesFolder) {
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
    const std::optional<QUrl> chosen = openPanel ? openPanel(panelStartURL()) : std::nullopt;
    if (!chosen || !chosen->isLocalFile())
        return;
    navigateToItems(notesAppScreen2Items());
    convertFromNotesApp(chosen->toLocalFile());
}

void ZNFMacNotecrateViewController::updateToShowBackup() {
    resetStackAndShow(currentBackupItems());
}

void ZNFMacNotecrateViewController::openVesperFilePicker() {
    const std::optional<QUrl> chosen = openPanel ? openPanel(panelStartURL()) : std::nullopt;
    if (!chosen || !chosen->isLocalFile())
        return;
    ZNFVesperNoteImporter::importNotesAtURLInBackground(
        chosen->toLocalFile(),
        conversionCompletion(
            &ZNFMacNotecrateViewController::showVesperError,
            ZNFLocalizedString("Something went wrong—make sure you've selected \nthe correct "
                               "file, and try again.")));
}

void ZNFMacNotecrateViewController::showVesperError(const QString& message) {
    Screen screen = vesperScreen1Items();
    screen.insert(screen.begin() + 1, errorItem(message));
    showScreen(screen);
}

void ZNFMacNotecrateViewController::showNotesError(const QString& message) {
    Screen screen = notesAppScreen1Items();
    screen.insert(screen.begin() + 1, errorItem(message));
    showScreen(screen);
}

void ZNFMacNotecrateViewController::presentSavePanel() {
    const QString source = currentBackupPath();
    const QString name = QFileInfo(source).completeBaseName();
    const std::optional<QUrl> chosen = savePanel ? savePanel(panelStartURL(), name) : std::nullopt;
    if (!chosen)
        return;
    QString destination = chosen->toLocalFile();
    if (QFileInfo(destination).suffix() != QLatin1String("notebackup"))
        destination += QStringLiteral(".notebackup");

    // A failed save never costs the backup already there.
    if (!ZNFFileWrite::copyIntoPlace(source, destination)) {
        ZNFLogf("Could not save the archive %@ to %@", source, destination);
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
            ZNFLog(QStringLiteral("Not advertising: there is no converted archive to send yet"));
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
    if (sender->start(archive))
        return;
    const ZNFPeerError error = sender->startError();
    stopSending();
    if (error.code() == ZNFPeerError::IdentityDamaged) {
        ZNFLogf(QStringLiteral("Cannot send: %@"), error.message());
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
