#include "TestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

// Every suite gets a QApplication on the offscreen platform unless the caller chose one,
// so widgets, fonts and event loops work on machines without a display. Started with
// "--child NAME", the program is a test's second process instead (see runChild).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("AVAHI_COMPAT_NOWARN", "1");
    QApplication app(argc, argv);
    if (const std::optional<int> result = runChildRoutineIfAsked(QCoreApplication::arguments()))
        return *result;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
