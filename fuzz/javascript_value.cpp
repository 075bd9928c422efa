// A script run by the layout bridge: its text is the input. Whatever it builds and hands to
// performAction, setUserDefaultsValueForKey or back as its value must cross the bridge within
// the conversion budget, and no script may hold the engine past its time limit.

#include "FuzzSupport.h"

#include "layout/ZNFJavascriptLayoutController.h"
#include "layout/ZNFUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace {

// Short, so that the fuzzer spends its time on scripts that end.
constexpr std::chrono::milliseconds kTimeLimit{100};

void prepare() {
    static const bool done = [] {
        // Settings the scripts write stay in the private home.
        const QString config = NCFuzz::environment().root() + QStringLiteral("/config");
        QDir().mkpath(config);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        return ZNFUserDefaults::standardUserDefaults().filePath().startsWith(config);
    }();
    FUZZ_CHECK(done, QStringLiteral("the user defaults are not in the private home"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NCFuzz::environment();
    prepare();
    const QString script = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        ZNFJavascriptLayoutController bridge;
        ZNFJavascriptContext* context = bridge.context();
        context->setTimeLimit(kTimeLimit);
        QElapsedTimer clock;
        clock.start();
        const QJSValue result = context->evaluateScript(script);
        // The watchdog fires at the limit; the engine needs a moment to notice.
        FUZZ_CHECK(clock.elapsed() < 20 * kTimeLimit.count(),
                   QStringLiteral("a script outran its time limit"));

        QString error;
        const QVariant value = context->toVariant(result, &error);
        FUZZ_CHECK(error.isEmpty() || !value.isValid(), QStringLiteral("a refused value came back anyway"));
        if (ZNFUserDefaults::isPropertyList(value)) {
            // What is kept as a setting comes back to a script and crosses again within budget.
            const QJSValue back = context->toScriptValue(value);
            context->toVariant(back, &error);
            FUZZ_CHECK(error.isEmpty(), QStringLiteral("a stored value no longer fits the budget"));
        }
        // The engine is usable after whatever the script did.
        context->setTimeLimit(std::chrono::seconds(5));
        FUZZ_CHECK(context->evaluateScript(QStringLiteral("1 + 1")).toInt() == 2,
                   QStringLiteral("the context is not usable after the script"));
    }
    // Delayed actions of a bridge that is gone do nothing; let their posts go.
    QCoreApplication::sendPostedEvents();
    return 0;
}
