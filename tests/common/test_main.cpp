#include "TestSupport.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every suite gets a QApplication on the offscreen platform unless the caller chose one,
// so widgets, fonts and event loops work on machines without a display. Started with
// "--child NAME", the program is a test's second process instead (see runChild).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("AVAHI_COMPAT_NOWARN", "1");
    // No test reads or writes the user's own configuration (device identity, remembered
    // peers); a test's second process keeps the folder its test gave it.
    QTemporaryDir config;
    if (argc < 2 || qstrcmp(argv[1], "--child") != 0)
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    if (const std::optional<int> result = runChildRoutineIfAsked(QCoreApplication::arguments()))
        return *result;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
