#include "layout/ZNFJavascriptLayoutController.h"

#include "layout/ZNFLayoutProvider.h"
#include "layout/ZNFUserDefaults.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFMainQueue.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJSEngine>
#include <QJSValueIterator>
#include <QObject>
#include <QTimer>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

// The native side of the four globals. Scripts reach it only through closures installed by
// setupHandlers(), never as a global of its own. It holds the bridge by a pointer that the
// bridge clears when it goes, so a call that arrives afterwards does nothing.
class ZNFJavascriptBridgeFunctions : public QObject {
    Q_OBJECT
public:
    explicit ZNFJavascriptBridgeFunctions(ZNFJavascriptLayoutController* bridge) : m_bridge(bridge) {}
    void detach() { m_bridge = nullptr; }

    Q_INVOKABLE void performAction(const QJSValue& action) {
        if (m_bridge)
            m_bridge->performAction(action);
    }
    Q_INVOKABLE void setUserDefaultsValueForKey(const QJSValue& value, const QJSValue& key) {
        if (m_bridge)
            m_bridge->setUserDefaultsValueForKey(value, key);
    }
    Q_INVOKABLE QJSValue userDefaultsValueForKey(const QJSValue& key) {
        if (m_bridge)
            return m_bridge->userDefaultsValueForKey(key);
        return QJSValue(QJSValue::NullValue);
    }
    Q_INVOKABLE void log(const QJSValue& message) {
        if (m_bridge)
            m_bridge->log(message);
    }

private:
    ZNFJavascriptLayoutController* m_bridge;
};

namespace {

// Log lines are single lines: a script's text must not be able to start lines of its own.
QString singleLine(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    text.replace(u'\n', QLatin1String("\\n"));
    text.replace(u'\r', QLatin1String("\\n"));
    text.replace(QChar(0x2028), QLatin1String("\\n"));
    text.replace(QChar(0x2029), QLatin1String("\\n"));
    return text;
}

// Limits of the value conversion: beyond them a value is kept wrapped, so that it is refused
// as a setting instead of exhausting the stack or the memory.
constexpr int kMaxConversionDepth = 256;
constexpr quint32 kMaxConvertedArrayLength = 1u << 24;

struct Converter {
    const QJSValue& arrayBufferPrototype;
    std::vector<QJSValue> path;

    bool onPath(const QJSValue& value) const {
        for (const QJSValue& ancestor : path)
            if (ancestor.strictlyEquals(value))
                return true;
        return false;
    }

    QVariant convert(const QJSValue& value) {
        if (value.isUndefined())
            return QVariant();
        if (value.isNull())
            return QVariant::fromValue(nullptr);
        if (value.isBool())
            return value.toBool();
        if (value.isNumber()) {
            const double number = value.toNumber();
            if (std::isfinite(number) && number == std::trunc(number) &&
                number >= double(std::numeric_limits<int>::min()) &&
                number <= double(std::numeric_limits<int>::max()) && !(number == 0 && std::signbit(number)))
                return int(number);
            return number;
        }
        if (value.isString())
            return value.toString();
        if (value.isDate())
            return value.toDateTime();
        if (value.isCallable() || value.isQObject() || value.isQMetaObject() || value.isVariant() ||
            value.isRegExp() || value.isError() || !value.isObject())
            return QVariant::fromValue(value);
        if (arrayBufferPrototype.isObject() && value.prototype().strictlyEquals(arrayBufferPrototype))
            return value.toVariant();
        if (int(path.size()) >= kMaxConversionDepth || onPath(value))
            return QVariant::fromValue(value);

        path.push_back(value);
        QVariant result;
        if (value.isArray()) {
            const quint32 length = value.property(QStringLiteral("length")).toUInt();
            if (length > kMaxConvertedArrayLength) {
                result = QVariant::fromValue(value);
            } else {
                QVariantList list;
                list.reserve(qsizetype(length));
                for (quint32 i = 0; i < length; ++i) {
                    // A hole or undefined keeps its place as null, as in JSON.
                    QVariant element = convert(value.property(i));
                    list.append(element.isValid() ? element : QVariant::fromValue(nullptr));
                }
                result = list;
            }
        } else {
            QVariantMap map;
            QJSValueIterator it(value);
            while (it.hasNext()) {
                it.next();
                QVariant entry = convert(it.value());
                if (entry.isValid())
                    map.insert(it.name(), entry);
            }
            result = map;
        }
        path.pop_back();
        return result;
    }
};

constexpr std::int64_t kLongestTimerStep = 2'000'000'000; // about 23 days, within a timer's int

// Runs `work` on the main thread after `milliseconds`, never inside this call. Long waits
// are split into steps a QTimer can hold; `alive` is checked before every step.
void runOnMainQueueAfter(std::int64_t milliseconds, std::weak_ptr<int> alive, std::function<void()> work) {
    ZNFPostToMainQueue([milliseconds, alive = std::move(alive), work = std::move(work)]() mutable {
        if (alive.expired())
            return;
        const std::int64_t step = std::min(milliseconds, kLongestTimerStep);
        const std::int64_t rest = milliseconds - step;
        QTimer::singleShot(int(step), QCoreApplication::instance(),
                           [rest, alive = std::move(alive), work = std::move(work)]() mutable {
                               if (alive.expired())
                                   return;
                               if (rest > 0)
                                   runOnMainQueueAfter(rest, std::move(alive), std::move(work));
                               else
                                   work();
                           });
    });
}

// "_delay" in seconds, as whole nanoseconds (truncated, saturating); anything that does not
// read as a number, and any negative delay, means "as soon as possible".
std::int64_t delayInNanoseconds(const QVariant& delay) {
    bool ok = false;
    const double seconds = delay.toDouble(&ok);
    if (!ok || std::isnan(seconds) || seconds <= 0)
        return 0;
    const double nanoseconds = seconds * 1e9;
    if (nanoseconds >= 9.2e18)
        return std::numeric_limits<std::int64_t>::max();
    return std::int64_t(nanoseconds);
}

} // namespace

// ----------------------------------------------------------------------------------------

ZNFJavascriptContext::ZNFJavascriptContext() : m_engine(std::make_unique<QJSEngine>()) {
    m_arrayBufferPrototype = m_engine->globalObject()
                                 .property(QStringLiteral("ArrayBuffer"))
                                 .property(QStringLiteral("prototype"));
}

ZNFJavascriptContext::~ZNFJavascriptContext() = default;

QJSValue ZNFJavascriptContext::globalObject() const {
    return m_engine->globalObject();
}

QJSValue ZNFJavascriptContext::evaluateScript(const QString& script, const QString& sourceURL) {
    // The engine reports an uncaught exception only through a non-empty stack trace: a
    // thrown string comes back as a plain string.
    QStringList stackTrace;
    const QJSValue result = m_engine->evaluate(script, sourceURL, 1, &stackTrace);
    if (stackTrace.isEmpty()) {
        m_exception = QJSValue();
        return result;
    }
    m_exception = result;
    const ExceptionHandler handler = m_exceptionHandler;
    if (handler)
        handler(this, result);
    return QJSValue();
}

QVariant ZNFJavascriptContext::toVariant(const QJSValue& value) const {
    Converter converter{m_arrayBufferPrototype, {}};
    return converter.convert(value);
}

QJSValue ZNFJavascriptContext::toScriptValue(const QVariant& value) const {
    if (!value.isValid() || value.isNull())
        return QJSValue(QJSValue::NullValue);
    return m_engine->toScriptValue(value);
}

// ----------------------------------------------------------------------------------------

ZNFJavascriptLayoutController::ZNFJavascriptLayoutController()
    : m_alive(std::make_shared<int>(0)), m_layoutProvider(std::make_shared<ZNFLayoutProvider>()),
      m_functions(std::make_unique<ZNFJavascriptBridgeFunctions>(this)),
      m_context(std::make_unique<ZNFJavascriptContext>()) {
    setupHandlers();
}

ZNFJavascriptLayoutController::~ZNFJavascriptLayoutController() {
    m_alive.reset();
    m_functions->detach();
    // The engine goes before the object its closures point at.
    m_context.reset();
}

void ZNFJavascriptLayoutController::setupHandlers() {
    QJSEngine* engine = m_context->engine();
    QJSEngine::setObjectOwnership(m_functions.get(), QJSEngine::CppOwnership);
    // Closures over the native object: scripts see four plain functions taking exactly the
    // documented arguments, and no global through which to reach the native object itself.
    const QJSValue install = engine->evaluate(QStringLiteral(R"((function (bridge) {
    return {
        performAction: function (action) { bridge.performAction(action); },
        setUserDefaultsValueForKey: function (value, key) { bridge.setUserDefaultsValueForKey(value, key); },
        userDefaultsValueForKey: function (key) { return bridge.userDefaultsValueForKey(key); },
        log: function (message) { bridge.log(message); }
    };
}))"));
    const QJSValue functions = install.call({engine->newQObject(m_functions.get())});
    QJSValue global = engine->globalObject();
    for (const char* name :
         {ZNFJavascriptLayoutController_PerformAction,
          ZNFJavascriptLayoutController_SetUserDefaultsValueForKey,
          ZNFJavascriptLayoutController_UserDefaultsValueForKey, ZNFJavascriptLayoutController_Log}) {
        const QString key = QLatin1String(name);
        global.setProperty(key, functions.property(key));
    }

    m_context->setExceptionHandler([](ZNFJavascriptContext*, const QJSValue& exception) {
        ZNFLogf(QStringLiteral("JS Error: %@"), singleLine(exception.toString()));
    });
}

void ZNFJavascriptLayoutController::performAction(const QJSValue& action) {
    // Only a plain object is a dictionary; arrays, dates and functions are not.
    if (!action.isObject() || action.isArray() || action.isDate() || action.isCallable())
        return;
    const QVariant converted = m_context->toVariant(action);
    if (converted.typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap dictionary = converted.toMap();
    const QString delayKey = QLatin1String(ZNFLayoutParser_Delay);
    if (!dictionary.contains(delayKey)) {
        performNow(dictionary);
        return;
    }
    const std::int64_t nanoseconds = delayInNanoseconds(dictionary.value(delayKey));
    // Round up: an action must never run before its delay has passed.
    const std::int64_t milliseconds = nanoseconds / 1'000'000 + (nanoseconds % 1'000'000 ? 1 : 0);
    runOnMainQueueAfter(milliseconds, m_alive, [this, dictionary] { performNow(dictionary); });
}

void ZNFJavascriptLayoutController::performNow(const QVariantMap& action) {
    // Keep the provider alive through the event even if a handler replaces it.
    const std::shared_ptr<ZNFLayoutProvider> provider = m_layoutProvider;
    if (provider)
        provider->performEvent(action, nullptr, topMostViewController());
}

namespace {
// A key is a string; a number is taken as its text, anything else as no key.
QString keyFromScript(const QJSValue& key) {
    if (key.isString() || key.isNumber())
        return key.toString();
    return QString();
}
} // namespace

void ZNFJavascriptLayoutController::setUserDefaultsValueForKey(const QJSValue& value, const QJSValue& key) {
    const QString name = keyFromScript(key);
    if (name.isEmpty())
        return;
    const QVariant converted = m_context->toVariant(value);
    if (!ZNFUserDefaults::isPropertyList(converted))
        return;
    ZNFUserDefaults::standardUserDefaults().setObject(converted, name);
}

QJSValue ZNFJavascriptLayoutController::userDefaultsValueForKey(const QJSValue& key) {
    const QString name = keyFromScript(key);
    if (name.isEmpty())
        return QJSValue(QJSValue::NullValue);
    return m_context->toScriptValue(ZNFUserDefaults::standardUserDefaults().objectForKey(name));
}

void ZNFJavascriptLayoutController::log(const QJSValue& message) {
    if (message.isUndefined() || message.isNull())
        return;
    ZNFLogf(QStringLiteral("%@"), singleLine(message.toString()));
}

#include "ZNFJavascriptLayoutController.moc"
