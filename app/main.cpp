#include "app/AppDelegate.h"
#include "app/ZNFAppLog.h"
#include "app/ZNFNotecrateWindowController.h"
#include "platform/ZNFBundle.h"
#include "tools/ZNFCommandLine.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

namespace {

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("AVAHI_COMPAT_NOWARN", "1");
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    if (!arguments.isEmpty()) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Notecrate"));
        return ZNFRunCommandLine(arguments);
    }
    if (!hasDisplay()) {
        std::fprintf(stderr, "notecrate: there is no display to open the window on. Start it under Xvfb:\n"
                             "  xvfb-run -s '-screen 0 1280x900x24' build/notecrate\n"
                             "or convert headless: notecrate convert vesper PATH (see notecrate help)\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Notecrate"));
    QApplication::setOrganizationName(QStringLiteral("Notecrate"));
    // The string table for the user's language; English needs none (the English text is the key).
    ZNFBundle::installLocalizations();
    qCInfo(lcApp()).noquote()
        << QStringLiteral("Resources from %1").arg(ZNFBundle::mainBundle().bundlePath());
    QApplication::setWindowIcon(QIcon(
        ZNFBundle::mainBundle().pathForResource(QStringLiteral("images/notecrate"), QStringLiteral("png"))));
    AppDelegate delegate;
    QTimer::singleShot(0, &delegate, [&delegate] {
        delegate.applicationDidFinishLaunching();
        // For the start-up benchmark: draw the first screen once, then quit.
        if (qEnvironmentVariableIsSet("NOTECRATE_QUIT_AFTER_FIRST_FRAME")) {
            delegate.windowController()->window()->grab();
            QCoreApplication::quit();
        }
    });
    return app.exec();
}
