#include "app/AppDelegate.h"

#include "app/ZNFAppLog.h"
#include "app/ZNFNotecrateWindowController.h"

#include <QApplication>
#include <QMainWindow>

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    m_windowController = std::make_unique<ZNFNotecrateWindowController>();
    m_windowController->showWindow();
    QWidget* key = QApplication::activeWindow() ? QApplication::activeWindow() : m_windowController->window();
    qCInfo(lcApp()).noquote() << QStringLiteral("<%1: \"%2\">")
                                     .arg(QString::fromLatin1(key->metaObject()->className()),
                                          key->windowTitle());
}
