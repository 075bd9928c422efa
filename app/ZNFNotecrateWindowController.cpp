#include "app/ZNFNotecrateWindowController.h"

#include "app/ZNFMacNotecrateViewController.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFNotificationCenter.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenuBar>

ZNFNotecrateWindowController::ZNFNotecrateWindowController() {
    m_window = new QMainWindow();
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setWindowTitle(QStringLiteral("Notecrate"));
    m_window->resize(600, 700);
    m_window->setMinimumSize(420, 520);

    QMenu* menu = m_window->menuBar()->addMenu(QStringLiteral("&Notecrate"));
    QAction* send = menu->addAction(ZNFLocalizedString("Send to Tessanote"));
    send->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(send, &QAction::triggered, this, &ZNFNotecrateWindowController::sendToTessanote);
    QAction* refreshAction = menu->addAction(ZNFLocalizedString("Refresh"));
    refreshAction->setShortcut(QKeySequence::Refresh);
    connect(refreshAction, &QAction::triggered, this, &ZNFNotecrateWindowController::refresh);
    menu->addSeparator();
    QAction* quit = menu->addAction(ZNFLocalizedString("Quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, m_window, &QWidget::close);

    m_contentViewController = std::make_shared<ZNFMacNotecrateViewController>();
    auto* back = new QAction(m_window);
    back->setShortcut(QKeySequence(Qt::Key_Escape));
    back->setShortcutContext(Qt::WindowShortcut);
    connect(back, &QAction::triggered, this, [this] { m_contentViewController->goBack(); });
    m_window->addAction(back);
    m_window->setCentralWidget(m_contentViewController->view());
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            &ZNFNotecrateWindowController::applicationWillTerminate);
}

void ZNFNotecrateWindowController::applicationWillTerminate() {
    if (m_contentViewController)
        m_contentViewController->cancelConversions(ZNFNotecrate_quitWaitMs);
}

ZNFNotecrateWindowController::~ZNFNotecrateWindowController() {
    // The central widget belongs to the view controller, which deletes it itself.
    if (m_window) {
        if (QWidget* central = m_window->centralWidget())
            central->setParent(nullptr);
        delete m_window.data();
    }
    m_contentViewController.reset();
}

void ZNFNotecrateWindowController::showWindow() {
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void ZNFNotecrateWindowController::sendToTessanote() {
    ZNFNotificationCenter::defaultCenter().postNotificationName(ZNFNotecrateNotification_sendToTessanote);
}

void ZNFNotecrateWindowController::refresh() {
    ZNFNotificationCenter::defaultCenter().postNotificationName(ZNFNotecrateNotification_refresh);
}
