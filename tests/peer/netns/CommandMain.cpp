// The headless subcommands without the window: lets the namespace tests run `send` and
// `receive` as separate processes whatever state the application target is in.
#include "tools/ZNFCommandLine.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    qputenv("AVAHI_COMPAT_NOWARN", "1");
    QCoreApplication app(argc, argv);
    return ZNFRunCommandLine(app.arguments().mid(1));
}
