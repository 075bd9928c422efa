#include "layout/ZNFJavascriptLayoutController.h"

#include "layout/ZNFLayoutLog.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/ZNFUserDefaults.h"
#include "platform/ZNFMainQueue.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJSEngine>
#include <QJSValueIterator>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

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
    text.replace("\r\n"_L1, "\\n"_L1);
    text.replace(u'\n', "\\n"_L1);
    text.replace(u'\r', "\\n"_L1);
    text.replace(QChar(0x2028), "\\n"_L1);
    text.replace(QChar(0x2029), "\\n"_L1);
    return text;
}

// Limits of one value conversion. Deeper or cyclic values are kept wrapped, so that they are
// refused as a setting; past the budget of values or bytes the whole conversion is refused.
// Shared sub-objects are expanded once per reference, so without the budget a few lines of
// script could make a value of billions of nodes.
constexpr int kMaxConversionDepth = 256;
constexpr qint64 kMaxConvertedValues = 100'000;
constexpr qint64 kMaxConvertedBytes = 16 * 1024 * 1024;
// What a value costs besides its text or data, in bytes.
constexpr qint64 kValueCost = 16;

struct Converter {
    const QJSValue& arrayBufferPrototype;
    std::vector<QJSValue> path;
    qint64 values = 0;
    qint64 bytes = 0;
    bool exceeded = false;

    bool spend(qint64 count, qint64 size) {
        values += count;
        bytes += size;
        exceeded = exceeded || values > kMaxConvertedValues || bytes > kMaxConvertedBytes;
        return !exceeded;
    }

    bool onPath(const QJSValue& value) const {
        for (const QJSValue& ancestor : path)
            if (ancestor.strictlyEquals(value))
                return true;
        return false;
    }

    // `paid`: an array element, already counted with its array.
    QVariant convert(const QJSValue& value, bool paid = false) {
        if (exceeded || (!paid && !spend(1, kValueCost)))
            return QVariant();
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
        if (value.isString()) {
            QString text = value.toString();
            return spend(0, 2 * text.size()) ? QVariant(std::move(text)) : QVariant();
        }
        if (value.isDate())
            return value.toDateTime();
        if (value.isCallable() || value.isQObject() || value.isQMetaObject() || value.isVariant() ||
            value.isRegExp() || value.isError() || !value.isObject())
            return QVariant::fromValue(value);
        if (arrayBufferPrototype.isObject() && value.prototype().strictlyEquals(arrayBufferPrototype)) {
            const qint64 size = value.property(QStringLiteral("byteLength")).toInt();
            return spend(0, size) ? value.toVariant() : QVariant();
        }
        if (int(path.size()) >= kMaxConversionDepth || onPath(value))
            return QVariant::fromValue(value);

        path.push_back(value);
        QVariant result;
        if (value.isArray()) {
            // Every element counts, holes too: a sparse array of millions is refused before a
            // list is made for it.
            const quint32 length = value.property(QStringLiteral("length")).toUInt();
            if (spend(length, qint64(length) * kValueCost)) {
                QVariantList list;
                list.reserve(qsizetype(length));
                for (quint32 i = 0; i < length && !exceeded; ++i) {
                    // A hole or undefined keeps its place as null, as in JSON.
                    QVariant element = convert(value.property(i), true);
                    list.append(element.isValid() ? element : QVariant::fromValue(nullptr));
                }
                result = list;
            }
        } else {
            QVariantMap map;
            QJSValueIterator it(value);
            while (it.hasNext() && !exceeded) {
                it.next();
                QVariant entry = convert(it.value());
                if (entry.isValid() && spend(0, 2 * it.name().size()))
                    map.insert(it.name(), entry);
            }
            result = map;
        }
        path.pop_back();
        return exceeded ? QVariant() : result;
    }
};

constexpr std::int64_t kLongestTimerStep = 2'000'000'000; // about 23 days, within a timer's int

// Runs `work` on the main thread after `milliseconds`, never inside this call, unless `owner`
// is gone by then. Long waits are split into steps a QTimer can hold; each step's timer has
// `owner` as its context, so destroying the owner cancels it.
void runOnMainQueueAfter(std::int64_t milliseconds, QPointer<QObject> owner, std::function<void()> work) {
    ZNFPostToMainQueue([milliseconds, owner, work = std::move(work)]() mutable {
        if (!owner)
            return;
        const std::int64_t step = std::min(milliseconds, kLongestTimerStep);
        const std::int64_t rest = milliseconds - step;
        QTimer::singleShot(int(step), owner.data(), [rest, owner, work = std::move(work)]() mutable {
            if (rest > 0)
                runOnMainQueueAfter(rest, owner, std::move(work));
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

// Interrupts the engine from a thread of its own when a run passes its deadline. The engine's
// interruption flag is the one part of it that may be touched from another thread.
class ZNFJavascriptWatchdog {
public:
    explicit ZNFJavascriptWatchdog(QJSEngine* engine) : m_engine(engine), m_thread([this] { watch(); }) {}
    ~ZNFJavascriptWatchdog() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void arm(std::chrono::milliseconds limit) {
        {
            std::lock_guard lock(m_mutex);
            m_deadline = std::chrono::steady_clock::now() + limit;
            m_fired = false;
        }
        m_wake.notify_one();
    }
    // Whether the run was interrupted; the engine runs scripts again afterwards.
    bool disarm() {
        bool fired = false;
        {
            std::lock_guard lock(m_mutex);
            m_deadline.reset();
            fired = m_fired;
            m_fired = false;
        }
        if (fired)
            m_engine->setInterrupted(false);
        return fired;
    }

private:
    void watch() {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (!m_deadline) {
                m_wake.wait(lock);
            } else if (std::chrono::steady_clock::now() >= *m_deadline) {
                m_engine->setInterrupted(true);
                m_fired = true;
                m_deadline.reset();
            } else {
                m_wake.wait_until(lock, *m_deadline);
            }
        }
    }

    QJSEngine* m_engine;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    bool m_fired = false;
    bool m_stop = false;
    std::thread m_thread;
};

ZNFJavascriptContext::ZNFJavascriptContext() : m_engine(std::make_unique<QJSEngine>()) {
    m_arrayBufferPrototype = m_engine->globalObject()
                                 .property(QStringLiteral("ArrayBuffer"))
                                 .property(QStringLiteral("prototype"));
    // The engine does not interrupt its own native calls, and some of them build or walk as
    // much as a script asks at once: "x".repeat(2 ** 30), or includes() over an array-like that
    // claims 2 ** 53 elements, holds the engine past any time limit (copyWithin() over one
    // crashes it). Each such call is checked first and throws a RangeError instead.
    const QJSValue limit = m_engine->evaluate(QStringLiteral(R"JS((function (maxBuilt, maxWalked, global) {
    "use strict";
    const apply = Reflect.apply, construct = Reflect.construct, isArray = Array.isArray;
    const describe = Object.getOwnPropertyDescriptor, protoOf = Object.getPrototypeOf;
    const define = Object.defineProperty, trunc = Math.trunc, ProxyOf = Proxy;
    const typedLength = describe(protoOf(Uint8Array.prototype), "length").get;
    const fail = function (max) {
        throw new RangeError("Invalid length: more than " + max + " characters or elements");
    };
    const check = function (length, max) {
        if (length > max)
            fail(max);
    };
    const count = function (value) {
        return trunc(Number(value)) || 0;
    };
    // The length a native walk will read, read the same way: a typed array's own count, an
    // array's length, or an array-like's plain `length`. A length a script computes (a getter,
    // an object with valueOf) could say one thing here and another to the walk: refused.
    const lengthOf = function (value) {
        if (value === null || value === undefined)
            return 0;
        try {
            return apply(typedLength, value, []);
        } catch (e) {
        }
        for (let o = Object(value); o !== null; o = protoOf(o)) {
            const d = describe(o, "length");
            if (!d)
                continue;
            if (!("value" in d))
                throw new TypeError("an array-like's length must be a plain number");
            const t = typeof d.value;
            if (t !== "number" && t !== "string" && t !== "undefined" && t !== "boolean")
                throw new TypeError("an array-like's length must be a plain number");
            return count(d.value);
        }
        return 0;
    };
    const wrap = function (owner, name, length, max) {
        const original = owner[name];
        if (typeof original !== "function")
            return;
        define(owner, name, { writable: true, configurable: true, value: function () {
            check(length(this, arguments), max);
            return apply(original, this, arguments);
        } });
    };
    // Native string building: the result's length is known before anything is built.
    wrap(String.prototype, "repeat", (s, a) => String(s).length * count(a[0]), maxBuilt);
    wrap(String.prototype, "padStart", (s, a) => count(a[0]), maxBuilt);
    wrap(String.prototype, "padEnd", (s, a) => count(a[0]), maxBuilt);
    wrap(Array.prototype, "join", (s, a) =>
        (lengthOf(s) - 1) * (a[0] === undefined ? 1 : String(a[0]).length), maxBuilt);
    // Native walks over an array's length, which the engine does not interrupt: a sparse array
    // or an array-like may claim billions of elements without holding one.
    for (const name of ["copyWithin", "every", "fill", "filter", "find", "findIndex", "findLast",
                        "findLastIndex", "flat", "flatMap", "forEach", "includes", "indexOf", "join",
                        "lastIndexOf", "map", "reduce", "reduceRight", "reverse", "shift", "slice",
                        "some", "sort", "splice", "toLocaleString", "unshift"])
        wrap(Array.prototype, name, lengthOf, maxWalked);
    wrap(Array.prototype, "concat", function (s, a) {
        let total = lengthOf(s);
        for (let i = 0; i < a.length; ++i)
            total += isArray(a[i]) ? lengthOf(a[i]) : 1;
        return total;
    }, maxWalked);
    wrap(JSON, "parse", (s, a) => String(a[0]).length, maxBuilt);
    const stringify = JSON.stringify;
    define(JSON, "stringify", { writable: true, configurable: true, value: function (value, replacer, space) {
        // Every array is seen by this replacer before it is walked.
        const user = typeof replacer === "function" ? replacer : null;
        const guard = function (key, v) {
            if (user)
                v = apply(user, this, [key, v]);
            if (isArray(v))
                check(lengthOf(v), maxWalked);
            return v;
        };
        if (isArray(replacer)) {
            check(lengthOf(replacer), maxWalked);
            apply(stringify, JSON, [value, guard]);
            return apply(stringify, JSON, [value, replacer, space]);
        }
        return apply(stringify, JSON, [value, guard, space]);
    } });
    const split = String.prototype.split;
    define(String.prototype, "split", { writable: true, configurable: true, value: function (separator, limit) {
        // The engine makes every part before it returns: asked for one more than a walk may
        // hold, it stops there.
        const wanted = limit === undefined ? 4294967295 : limit >>> 0;
        const parts = apply(split, this, [separator, wanted > maxWalked ? maxWalked + 1 : wanted]);
        check(parts.length, maxWalked);
        return parts;
    } });
    // Typed arrays and buffers are made no larger than a walk may be.
    const bufferLength = describe(ArrayBuffer.prototype, "byteLength").get;
    const byteLengthOf = function (value) {
        try {
            return apply(bufferLength, value, []);
        } catch (e) {
            return -1;
        }
    };
    for (const name of ["ArrayBuffer", "Int8Array", "Uint8Array", "Uint8ClampedArray", "Int16Array",
                        "Uint16Array", "Int32Array", "Uint32Array", "Float32Array", "Float64Array"]) {
        const original = global[name];
        if (typeof original !== "function")
            continue;
        const bytes = original.BYTES_PER_ELEMENT || 1;
        const capped = new ProxyOf(original, {
            construct(target, args, newTarget) {
                const first = args[0];
                const buffer = byteLengthOf(first);
                let length;
                if (buffer >= 0)
                    length = args[2] !== undefined ? count(args[2]) : (buffer - count(args[1])) / bytes;
                else if (first !== null && typeof first === "object")
                    length = lengthOf(first);
                else
                    length = count(first);
                check(length, maxWalked);
                return construct(target, args, newTarget);
            },
        });
        define(original.prototype, "constructor", { writable: true, configurable: true, value: capped });
        define(global, name, { writable: true, configurable: true, value: capped });
    }
    // A proxy could answer a length check one way and the walk another.
    delete global.Proxy;
}))JS"));
    limit.call({double(MaxBuiltLength), double(MaxWalkedLength), m_engine->globalObject()});
}

ZNFJavascriptContext::~ZNFJavascriptContext() {
    // The watchdog's thread goes before the engine it watches.
    m_watchdog.reset();
}

QJSValue ZNFJavascriptContext::globalObject() const {
    return m_engine->globalObject();
}

QJSValue ZNFJavascriptContext::guarded(const std::function<QJSValue(bool* threw)>& run) {
    // Only the outermost run is timed: a native function a script calls may run scripts too.
    const bool outermost = m_running == 0;
    if (outermost) {
        if (!m_watchdog)
            m_watchdog = std::make_unique<ZNFJavascriptWatchdog>(m_engine.get());
        m_watchdog->arm(m_timeLimit);
    }
    ++m_running;
    bool threw = false;
    QJSValue result = run(&threw);
    --m_running;
    if (outermost && m_watchdog->disarm()) {
        threw = true;
        result = m_engine->newErrorObject(
            QJSValue::GenericError,
            QStringLiteral("the script ran longer than %1 ms and was interrupted").arg(m_timeLimit.count()));
    }
    if (!threw) {
        m_exception = QJSValue();
        return result;
    }
    m_exception = result;
    const ExceptionHandler handler = m_exceptionHandler;
    if (handler)
        handler(this, result);
    return QJSValue();
}

QJSValue ZNFJavascriptContext::evaluateScript(const QString& script, const QString& sourceURL) {
    return guarded([&](bool* threw) {
        // The engine reports an uncaught exception only through a non-empty stack trace: a
        // thrown string comes back as a plain string.
        QStringList stackTrace;
        QJSValue result = m_engine->evaluate(script, sourceURL, 1, &stackTrace);
        *threw = !stackTrace.isEmpty();
        return result;
    });
}

QJSValue ZNFJavascriptContext::callFunction(const QJSValue& function, const QJSValueList& arguments) {
    if (!function.isCallable())
        return QJSValue();
    return guarded([&](bool* threw) {
        // A call hands back what the function threw, an error value.
        QJSValue result = function.call(arguments);
        *threw = result.isError();
        return result;
    });
}

QVariant ZNFJavascriptContext::toVariant(const QJSValue& value, QString* error) const {
    Converter converter{m_arrayBufferPrototype, {}};
    QVariant result = converter.convert(value);
    if (!converter.exceeded)
        return result;
    if (error)
        *error = QStringLiteral("the value is too large to cross the bridge (more than %1 values or %2 MB)")
                     .arg(kMaxConvertedValues)
                     .arg(kMaxConvertedBytes / (1024 * 1024));
    return QVariant();
}

QJSValue ZNFJavascriptContext::toScriptValue(const QVariant& value) const {
    if (!value.isValid() || value.isNull())
        return QJSValue(QJSValue::NullValue);
    return m_engine->toScriptValue(value);
}

// ----------------------------------------------------------------------------------------

ZNFJavascriptLayoutController::ZNFJavascriptLayoutController()
    : m_layoutProvider(std::make_shared<ZNFLayoutProvider>()),
      m_functions(std::make_unique<ZNFJavascriptBridgeFunctions>(this)),
      m_context(std::make_unique<ZNFJavascriptContext>()) {
    setupHandlers();
}

ZNFJavascriptLayoutController::~ZNFJavascriptLayoutController() {
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
    for (QLatin1StringView name :
         {ZNFJavascriptLayoutController_PerformAction,
          ZNFJavascriptLayoutController_SetUserDefaultsValueForKey,
          ZNFJavascriptLayoutController_UserDefaultsValueForKey, ZNFJavascriptLayoutController_Log}) {
        const QString key = name;
        global.setProperty(key, functions.property(key));
    }

    m_context->setExceptionHandler([](ZNFJavascriptContext*, const QJSValue& exception) {
        qCWarning(lcLayout()).noquote()
            << QStringLiteral("JS Error: %1").arg(singleLine(exception.toString()));
    });
}

void ZNFJavascriptLayoutController::performAction(const QJSValue& action) {
    // Only a plain object is a dictionary; arrays, dates and functions are not.
    if (!action.isObject() || action.isArray() || action.isDate() || action.isCallable())
        return;
    QString error;
    const QVariant converted = m_context->toVariant(action, &error);
    if (!error.isEmpty()) {
        m_context->engine()->throwError(QJSValue::RangeError, error);
        return;
    }
    if (converted.typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap dictionary = converted.toMap();
    const QString delayKey = ZNFLayoutParser_Delay;
    if (!dictionary.contains(delayKey)) {
        performNow(dictionary);
        return;
    }
    const std::int64_t nanoseconds = delayInNanoseconds(dictionary.value(delayKey));
    // Round up: an action must never run before its delay has passed.
    const std::int64_t milliseconds = nanoseconds / 1'000'000 + (nanoseconds % 1'000'000 ? 1 : 0);
    runOnMainQueueAfter(milliseconds, m_functions.get(), [this, dictionary] { performNow(dictionary); });
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
    QString error;
    const QVariant converted = m_context->toVariant(value, &error);
    if (!error.isEmpty()) {
        // The script learns of it (and the log, unless the script catches it).
        m_context->engine()->throwError(QJSValue::RangeError, error);
        return;
    }
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
    qCInfo(lcLayout()).noquote() << singleLine(message.toString());
}

#include "ZNFJavascriptLayoutController.moc"
