#pragma once

#include <QJSValue>
#include <QString>
#include <QVariant>
#include <chrono>
#include <functional>
#include <memory>

class QJSEngine;
class ZNFJavascriptBridgeFunctions;
class ZNFJavascriptWatchdog;
class ZNFLayoutProvider;
class ZNFViewController;

// The names of the functions the bridge installs as globals of its context.
inline constexpr QLatin1StringView ZNFJavascriptLayoutController_PerformAction{"performAction"};
inline constexpr QLatin1StringView ZNFJavascriptLayoutController_SetUserDefaultsValueForKey{
    "setUserDefaultsValueForKey"};
inline constexpr QLatin1StringView ZNFJavascriptLayoutController_UserDefaultsValueForKey{
    "userDefaultsValueForKey"};
inline constexpr QLatin1StringView ZNFJavascriptLayoutController_Log{"log"};

// A script context: one JavaScript engine with its global object. Scripts are run through
// evaluateScript(); an exception that a script leaves uncaught goes to the exception handler
// and the context stays usable for the next script. A script that runs longer than the time
// limit is interrupted and reported to the exception handler the same way.
class ZNFJavascriptContext {
public:
    using ExceptionHandler = std::function<void(ZNFJavascriptContext* context, const QJSValue& exception)>;
    // Long enough for any script a screen runs; a script past it is stuck.
    static constexpr std::chrono::milliseconds DefaultTimeLimit{2000};
    // The most characters repeat(), padStart(), padEnd() and join() may build, and the most
    // elements fill() may write. Each works in one native call, which the time limit cannot
    // stop: "x".repeat(2 ** 30) or new Array(2 ** 32 - 1).fill(0) would take gigabytes at once.
    static constexpr qsizetype MaxBuiltLength = qsizetype(1) << 24;
    // The most elements one native call may walk (an array's methods, JSON.stringify, split())
    // and the largest typed array or buffer a script may make. Small enough that the slowest of
    // these calls ends well within the time limit.
    static constexpr qsizetype MaxWalkedLength = qsizetype(1) << 18;

    ZNFJavascriptContext();
    ~ZNFJavascriptContext();
    ZNFJavascriptContext(const ZNFJavascriptContext&) = delete;
    ZNFJavascriptContext& operator=(const ZNFJavascriptContext&) = delete;

    QJSEngine* engine() const { return m_engine.get(); }
    QJSValue globalObject() const;

    // The script's completion value, or undefined when it threw or was interrupted.
    QJSValue evaluateScript(const QString& script, const QString& sourceURL = QString());
    // Calls a script function (a callback a script handed over) under the same time limit and
    // exception handling; undefined when it threw or was interrupted.
    QJSValue callFunction(const QJSValue& function, const QJSValueList& arguments = {});
    std::chrono::milliseconds timeLimit() const { return m_timeLimit; }
    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

    // The exception the last script left uncaught; undefined when it ran through.
    const QJSValue& exception() const { return m_exception; }

    const ExceptionHandler& exceptionHandler() const { return m_exceptionHandler; }
    void setExceptionHandler(ExceptionHandler handler) { m_exceptionHandler = std::move(handler); }

    // Script values as native values: objects become QVariantMap, arrays QVariantList, dates
    // QDateTime, strings QString, booleans bool, numbers int when integral and in range (else
    // double), array buffers QByteArray; null becomes a null QVariant (std::nullptr_t) and
    // undefined an invalid QVariant (object properties holding undefined are left out).
    // Functions, wrapped native objects, cyclic structures and absurdly deep ones stay wrapped as
    // a QJSValue, which is no property list. A value that would expand to more than 100,000
    // values or 16 MB (shared sub-objects count once per reference) gives an invalid QVariant
    // and the reason in `error`.
    QVariant toVariant(const QJSValue& value, QString* error = nullptr) const;
    // Native values as script values; an invalid or null QVariant becomes null.
    QJSValue toScriptValue(const QVariant& value) const;

private:
    // Runs `run` with the watchdog armed (unless a run is already under way) and reports what it
    // left uncaught or that it was interrupted.
    QJSValue guarded(const std::function<QJSValue(bool* threw)>& run);

    std::unique_ptr<QJSEngine> m_engine;
    std::unique_ptr<ZNFJavascriptWatchdog> m_watchdog;
    std::chrono::milliseconds m_timeLimit = DefaultTimeLimit;
    int m_running = 0;
    QJSValue m_exception;
    QJSValue m_arrayBufferPrototype;
    ExceptionHandler m_exceptionHandler;
};

// Lets scripts perform layout events and read and write user settings. The context gets four
// globals: performAction(action), setUserDefaultsValueForKey(value, key),
// userDefaultsValueForKey(key) and log(message); uncaught script errors are logged as
// "JS Error: <exception>". The owner runs scripts through context()->evaluateScript().
//
// An action with "_delay" runs that many seconds later on the main thread (0 still waits for
// the next turn of the event loop); one that is still waiting when the bridge is destroyed is
// dropped.
class ZNFJavascriptLayoutController {
public:
    ZNFJavascriptLayoutController();
    virtual ~ZNFJavascriptLayoutController();
    ZNFJavascriptLayoutController(const ZNFJavascriptLayoutController&) = delete;
    ZNFJavascriptLayoutController& operator=(const ZNFJavascriptLayoutController&) = delete;

    ZNFJavascriptContext* context() const { return m_context.get(); }
    // A provider with the default handlers and evaluators, made with the bridge; events need no
    // item parsers.
    const std::shared_ptr<ZNFLayoutProvider>& layoutProvider() const { return m_layoutProvider; }
    void setLayoutProvider(std::shared_ptr<ZNFLayoutProvider> provider) {
        m_layoutProvider = std::move(provider);
    }

    // Installs the four globals and the exception handler (the constructor does this; calling
    // it again puts back globals that a script replaced).
    void setupHandlers();

    // The view controller passed with performed events; none in this application.
    virtual ZNFViewController* topMostViewController() const { return nullptr; }

private:
    friend class ZNFJavascriptBridgeFunctions;

    void performAction(const QJSValue& action);
    void setUserDefaultsValueForKey(const QJSValue& value, const QJSValue& key);
    QJSValue userDefaultsValueForKey(const QJSValue& key);
    void log(const QJSValue& message);
    void performNow(const QVariantMap& action);

    std::shared_ptr<ZNFLayoutProvider> m_layoutProvider;
    // The native side of the script globals. Delayed actions run with it as their timers'
    // context, so they die with the bridge.
    std::unique_ptr<ZNFJavascriptBridgeFunctions> m_functions;
    std::unique_ptr<ZNFJavascriptContext> m_context;
};
