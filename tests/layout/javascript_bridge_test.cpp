#include "support/LayoutTestSupport.h"
#include "support/UserDefaultsEnvironment.h"

#include "TestSupport.h"
#include "layout/ZNFJavascriptLayoutController.h"
#include "layout/ZNFLayoutBlockBasedHandler.h"
#include "layout/ZNFLayoutProvider.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJSEngine>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QVariant stored(const char* key) {
    return userDefaults().objectForKey(key);
}

// The second process of SettingsOutliveTheProcessThatSetThem: sets two values, through a
// script and through a data event, and ends as its argument says: "quit" quits the event loop
// in the same turn, "return" ends without ever running one.
const bool kSetAndEnd = registerChildRoutine(QStringLiteral("set-and-end"), [](const QStringList& arguments) {
    ZNFJavascriptLayoutController bridge;
    auto set = [&] {
        bridge.context()->evaluateScript(QStringLiteral(R"(setUserDefaultsValueForKey({n: 7}, "outlives");
            performAction({_type: "data", action: "set", key: "handled", value: "yes"});)"));
    };
    if (arguments.value(0) != QLatin1String("quit")) {
        set();
        return 0;
    }
    QTimer::singleShot(0, [&] {
        set();
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
});

// A bridge of the application's kind and its script context.
class JavascriptBridge : public ::testing::Test {
protected:
    ZNFJavascriptLayoutController bridge;
    ZNFJavascriptContext* context = bridge.context();
};

} // namespace

TEST_F(JavascriptBridge, SettingsOutliveTheProcessThatSetThem) {
    for (const char* ending : {"quit", "return"}) {
        QTemporaryDir home;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        ASSERT_EQ(runChild(QStringLiteral("set-and-end"), {QLatin1String(ending)}, environment), 0) << ending;
        const ZNFUserDefaults next(home.filePath(QStringLiteral("config/Notecrate/userdefaults.ini")));
        EXPECT_EQ(next.objectForKey(QStringLiteral("outlives")), QVariant(QVariantMap{{"n", 7}})) << ending;
        EXPECT_EQ(next.objectForKey(QStringLiteral("handled")), QVariant(QStringLiteral("yes"))) << ending;
    }
}

TEST_F(JavascriptBridge, PerformActionAtOnceOrLater) {
    // Without "_delay" the event has run when performAction returns: the script sees it.
    const QJSValue seen =
        context->evaluateScript(R"(performAction({_type: "data", action: "set", key: "js-now",
        value: 1}); userDefaultsValueForKey("js-now"))");
    EXPECT_EQ(seen.toInt(), 1);
    EXPECT_EQ(stored("js-now"), QVariant(1));

    // With "_delay" 0.5 it runs about half a second later, on the main thread.
    QElapsedTimer clock;
    clock.start();
    context->evaluateScript(
        R"(performAction({_type: "data", action: "set", key: "js-later", value: 1, _delay: 0.5}))");
    EXPECT_FALSE(stored("js-later").isValid());
    // Not before the delay: the store is polled, so an early run would end the wait sooner.
    ASSERT_TRUE(waitUntil([] { return stored("js-later").isValid(); }, 5000));
    EXPECT_GE(clock.elapsed(), 495);
    EXPECT_EQ(stored("js-later"), QVariant(1));

    // A delay of 0 still waits for a later turn of the event loop; so does a delay that is
    // not a number or is negative.
    context->evaluateScript(
        R"(performAction({_type: "data", action: "set", key: "js-zero", value: "z", _delay: 0});
        performAction({_type: "data", action: "set", key: "js-odd", value: "o", _delay: -3});
        performAction({_type: "data", action: "set", key: "js-nan", value: "n", _delay: "soon"}))");
    EXPECT_EQ((QVariantList{stored("js-zero"), stored("js-odd"), stored("js-nan")}), QVariantList(3));
    EXPECT_TRUE(waitUntil([] {
        return stored("js-zero").isValid() && stored("js-odd").isValid() && stored("js-nan").isValid();
    }));
}

TEST_F(JavascriptBridge, PerformActionWantsADictionary) {
    int events = 0;
    bridge.layoutProvider()->registerHandler(ZNFLayoutBlockBasedHandler::handlerWithBlock(
                                                 [&](const std::shared_ptr<ZNFLayoutEvent>&) { ++events; }),
                                             QStringLiteral("count"));
    LogCapture log;
    context->evaluateScript(R"(performAction("count"); performAction(["count"]); performAction(null);
        performAction(function () { return {_type: "count"}; }); performAction(); performAction(new Date());
        performAction({_type: "unknown"});)");
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(log.lines().filter("JS Error: ").isEmpty()) << log.lines().join('\n').toStdString();
    context->evaluateScript(R"(performAction({_type: "count"}))");
    EXPECT_EQ(events, 1);
}

TEST_F(JavascriptBridge, ValuesCrossTheBridge) {
    context->evaluateScript(R"(setUserDefaultsValueForKey("text", "js-string");
        setUserDefaultsValueForKey(2.5, "js-number"); setUserDefaultsValueForKey(7, "js-integer");
        setUserDefaultsValueForKey(false, "js-bool"); setUserDefaultsValueForKey({list: [1, "a", {deep: true}], when: new Date(Date.UTC(2024, 2, 15))}, "js-dict");)");
    EXPECT_EQ((QVariantList{stored("js-string"), stored("js-number"), stored("js-integer")}),
              (QVariantList{QStringLiteral("text"), 2.5, 7}));
    EXPECT_EQ(stored("js-bool").typeId(), QMetaType::Bool);
    const QVariantMap dict = stored("js-dict").toMap();
    EXPECT_EQ(dict.value("list"),
              QVariant(QVariantList{1, QStringLiteral("a"), QVariantMap{{"deep", true}}}));
    EXPECT_EQ(dict.value("when").toDateTime(), QDateTime(QDate(2024, 3, 15), QTime(0, 0), Qt::UTC));

    // ... and come back as the matching script values.
    const QJSValue check = context->evaluateScript(R"(
        var d = userDefaultsValueForKey("js-dict");
        [typeof userDefaultsValueForKey("js-number"), userDefaultsValueForKey("js-bool") === false,
         d.list[2].deep === true, d.when instanceof Date && d.when.getTime() === Date.UTC(2024, 2, 15),
         userDefaultsValueForKey("js-never-stored") === null, userDefaultsValueForKey() === null,
         userDefaultsValueForKey({}) === null].join(","))");
    EXPECT_EQ(check.toString(), "number,true,true,true,true,true,true");
}

TEST_F(JavascriptBridge, NonPropertyListValuesStoreNothing) {
    userDefaults().setObject(QStringLiteral("before"), QStringLiteral("js-guarded"));
    LogCapture log;
    context->evaluateScript(R"(var loop = {name: "loop"}; loop.self = loop;
        var knot = {}; knot.a = knot; knot.b = [knot, knot]; knot.c = knot;
        for (const v of [function () {}, {f: function () {}}, [1, null], null, undefined, loop, knot])
            setUserDefaultsValueForKey(v, "js-guarded");
        setUserDefaultsValueForKey("no key"); setUserDefaultsValueForKey("object key", {});
        performAction({_type: "data", action: "set", key: "js-guarded", value: function () {}});
        performAction({_type: "data", action: "set", key: "js-guarded", value: loop});)");
    EXPECT_EQ(stored("js-guarded"), QVariant(QStringLiteral("before")));
    EXPECT_TRUE(log.lines().filter("JS Error: ").isEmpty()) << log.lines().join('\n').toStdString();

    // A structure that repeats an object without a cycle is still a plain value...
    context->evaluateScript(
        R"(var leaf = {v: 1}; setUserDefaultsValueForKey({a: leaf, b: [leaf, leaf]}, "js-guarded");)");
    EXPECT_EQ(stored("js-guarded").toMap().value("b").toList().size(), 2);

    // ... until its expansion passes the budget of one conversion: each of these is refused at
    // once, with a "JS Error" line, and stores nothing.
    userDefaults().setObject(QStringLiteral("before"), QStringLiteral("js-guarded"));
    const char* huge[] = {
        R"(var a = [1]; for (var i = 0; i < 22; i++) a = [a, a];
           performAction({_type: "data", action: "set", key: "js-guarded", value: a});)",
        R"(var a = [1]; for (var i = 0; i < 22; i++) a = [a, a]; setUserDefaultsValueForKey(a, "js-guarded");)",
        R"(setUserDefaultsValueForKey(new Array(16777216), "js-guarded");)",
        R"(performAction({_type: "none", x: new Array(16777216)});)",
        R"(setUserDefaultsValueForKey("x".repeat(1 << 24), "js-guarded");)",
    };
    QElapsedTimer clock;
    clock.start();
    for (const char* script : huge) {
        const qsizetype errors = log.lines().filter("JS Error: RangeError").size();
        context->evaluateScript(QString::fromLatin1(script));
        EXPECT_EQ(log.lines().filter("JS Error: RangeError").size(), errors + 1) << script;
    }
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(stored("js-guarded"), QVariant(QStringLiteral("before")));
}

TEST_F(JavascriptBridge, ScriptErrorsAreLoggedAndTheContextStaysUsable) {
    LogCapture log;
    EXPECT_TRUE(context->evaluateScript(R"(var kept = 41; noSuchFunction();)").isUndefined());
    QStringList errors = log.lines().filter("JS Error: ");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("noSuchFunction")) << errors[0].toStdString();
    EXPECT_TRUE(context->exception().isError());

    // The next script runs, sees what the failed one left, and clears the exception.
    EXPECT_EQ(context->evaluateScript("kept + 1").toInt(), 42);
    EXPECT_TRUE(context->exception().isUndefined());

    // A thrown plain value and a syntax error are uncaught exceptions too; each is one line.
    context->evaluateScript(R"(throw "first\nsecond")");
    context->evaluateScript("var = ;");
    errors = log.lines().filter("JS Error: ");
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors[1], "JS Error: first\\nsecond");
    EXPECT_TRUE(errors[2].contains("SyntaxError"));
    for (const QString& line : log.lines())
        EXPECT_FALSE(line.contains('\n'));

    // An exception the script catches itself is no error.
    context->evaluateScript(R"(try { null.x; } catch (e) { log("caught " + e.name); })");
    EXPECT_EQ(log.lines().filter("JS Error: ").size(), 3);
    EXPECT_TRUE(log.lines().contains("caught TypeError"));

    // What one native call builds or walks is held to its limit; the largest allowed is made.
    const qsizetype most = ZNFJavascriptContext::MaxBuiltLength, walk = ZNFJavascriptContext::MaxWalkedLength;
    for (const auto& [script, length] : std::initializer_list<std::pair<QString, qsizetype>>{
             {QString("'ab'.repeat(%1).length").arg(most / 2), most},
             {QString("'ab'.repeat(%1).length").arg(most / 2 + 1), -1},
             {QString("'x'.repeat(2 ** 30).length"), -1},
             {QString("''.padStart(%1).length").arg(most + 1), -1},
             {QString("'x'.padEnd(%1, 'yz').length").arg(most), most},
             {QString("new Array(%1).join().length").arg(most + 2), -1},
             {QString("new Array(2 ** 31).join('ab').length"), -1},
             {QString("new Array(3).fill(0).length"), 3},
             {QString("new Array(2 ** 32 - 1).fill(0).length"), -1},
             {QString("new Uint8Array(%1).fill(1).length").arg(most + 1), -1},
             // Walks the engine would not interrupt: over a sparse array, an array-like that
             // claims 2 ** 53 elements, or one whose length says one thing to the check and
             // another to the walk.
             {QString("new Array(%1).fill(0).slice().length").arg(walk), walk},
             {QString("new Array(%1).slice().length").arg(walk + 1), -1},
             {QString("Array.prototype.includes.call({length: 2 ** 53 - 1}, 1) ? 1 : 0"), -1},
             {QString("new Array(2 ** 32 - 1).copyWithin(0, 1).length"), -1},
             {QString("[].concat(new Array(2 ** 32 - 1)).length"), -1},
             {QString("JSON.stringify({a: [new Array(2 ** 32 - 1)]}).length"), -1},
             {QString("JSON.stringify({a: [1, 2]}, (k, v) => v).length"), 11},
             {QString(
                  "var n = 0; Array.prototype.indexOf.call({get length() { return n++ ? 2 ** 53 : 0; }}, 1)"),
              -2},
             {QString("'ab'.repeat(%1).split('').length").arg(walk / 2), walk},
             {QString("'ab'.repeat(%1).split('').length").arg(walk / 2 + 1), -1},
             {QString("'a,b,c'.split(',', 2).length"), 2},
             {QString("new Uint8Array(%1).length").arg(walk), walk},
             {QString("Object.keys(new Uint8Array(%1)).length").arg(walk + 1), -1},
             {QString("new Float64Array(new ArrayBuffer(%1)).length").arg(walk), walk / 8},
             {QString("new (new Uint8Array(1).constructor)(2 ** 30).length"), -1},
             {QString("typeof Proxy === 'undefined' ? 1 : 0"), 1}}) {
        const QJSValue built = context->evaluateScript(script);
        // -1: refused with a RangeError; -2: with a TypeError.
        EXPECT_EQ(built.isUndefined() ? (log.lines().last().contains("TypeError") ? -2 : -1)
                                      : qsizetype(built.toNumber()),
                  length)
            << script.toStdString();
        if (length == -1) {
            EXPECT_TRUE(log.lines().filter("JS Error: ").last().contains("RangeError"))
                << script.toStdString();
        }
    }
    errors = log.lines().filter("JS Error: ");

    // A script or a callback that runs past the time limit is interrupted, logged, and the
    // context runs the next script.
    context->setTimeLimit(std::chrono::milliseconds(200));
    for (const QJSValue& spin : {QJSValue(QStringLiteral("kept = 0; while (true) { kept++; }")),
                                 context->evaluateScript("(function () { while (true) {} })")}) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(
            (spin.isCallable() ? context->callFunction(spin) : context->evaluateScript(spin.toString()))
                .isUndefined());
        EXPECT_LT(clock.elapsed(), 5000);
        ASSERT_EQ(log.lines().filter("JS Error: ").size(), errors.size() + 1);
        errors = log.lines().filter("JS Error: ");
        EXPECT_TRUE(errors.back().contains("interrupted")) << errors.back().toStdString();
        EXPECT_EQ(context->evaluateScript("41 + 1").toInt(), 42);
    }
}

TEST_F(JavascriptBridge, LogWritesPresentMessagesToTheLayoutCategory) {
    static std::vector<std::pair<QString, QtMsgType>> seen;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& where, const QString&) {
            seen.emplace_back(QString::fromLatin1(where.category), type);
        });
    LogCapture log;
    context->evaluateScript(
        R"(log("hello %@"); log(12); log(null); log(); log("two\nlines"); noSuchFunction();)");
    qInstallMessageHandler(previous);
    EXPECT_EQ(log.lines().first(3), (QStringList{"hello %@", "12", "two\\nlines"}));
    // What a script says is information; what it leaves uncaught is a failure.
    const std::pair<QString, QtMsgType> said{"notecrate.layout", QtInfoMsg};
    EXPECT_EQ(seen,
              (std::vector<std::pair<QString, QtMsgType>>{said, said, said, {said.first, QtWarningMsg}}));
}

TEST_F(JavascriptBridge, NothingRunsOnceTheBridgeIsGone) {
    auto gone = std::make_unique<ZNFJavascriptLayoutController>();
    gone->context()->evaluateScript(
        R"(performAction({_type: "data", action: "set", key: "js-gone-zero", value: 1, _delay: 0});
        performAction({_type: "data", action: "set", key: "js-gone-later", value: 1, _delay: 0.1});)");
    // Another bridge's delayed action is not affected.
    context->evaluateScript(
        R"(performAction({_type: "data", action: "set", key: "js-other", value: 1, _delay: 0.1}))");
    gone.reset();
    ASSERT_TRUE(waitUntil([] { return stored("js-other").isValid(); }));
    QTest::qWait(100);
    EXPECT_FALSE(stored("js-gone-zero").isValid());
    EXPECT_FALSE(stored("js-gone-later").isValid());
}

TEST_F(JavascriptBridge, GlobalsCanBePutBack) {
    context->evaluateScript(R"(performAction = function () {}; log = undefined;)");
    bridge.setupHandlers();
    LogCapture log;
    context->evaluateScript(
        R"(log("back"); performAction({_type: "data", action: "set", key: "js-back", value: 2});)");
    EXPECT_EQ(log.lines(), QStringList{"back"});
    EXPECT_EQ(stored("js-back"), QVariant(2));
    // The native object behind the functions is not reachable as a global.
    const QString objects =
        "Object.keys(this).filter(function (k) { return typeof this[k] === 'object'; }, this)";
    EXPECT_EQ(context->evaluateScript(objects + ".length").toInt(), 0);
}
