#include "tools/ZNFCommandLine.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
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
        std::fprintf(stderr, "notecrate: no display. Start the window under Xvfb with:\n"
                             "  xvfb-run -s '-screen 0 1280x900x24' build/notecrate\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Notecrate"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Notecrate"));
    window.setCentralWidget(new QLabel(QStringLiteral("Notecrate")));
    window.resize(600, 700);
    window.show();
    return app.exec();
}
