#include "TestSupport.h"
#include "layout/ZNFLayoutProvider.h"
#include "layout/ZNFPredicator.h"
#include "layout/ZNFUserDefaults.h"
#include "platform/ZNFBundle.h"
#include "support/LayoutTestSupport.h"
#include "support/UserDefaultsEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

// Each row: a name, the "_predicate" value (absent when the row has none), the environment
// it is evaluated in, and the expected verdict. Missing environment entries take the
// defaults below: a 1440 x 900 screen, localizations ["en"], country "US", the reference date
// 03/15/2024 10:00 and nothing stored. Localizations "loaded" are those the application
// loads its texts in when the user's locale is "locale".
static const char* const kRows = R"([
 {"name": "no predicate", "expected": true},
 {"name": "empty dictionary", "predicate": {}, "expected": false},
 {"name": "empty array", "predicate": [], "expected": true},
 {"name": "array of one empty group", "predicate": [{}], "expected": false},
 {"name": "array with an empty group and a passing one", "predicate": [{}, {"device": {"minWidth": 0}}], "expected": true},
 {"name": "not a dictionary or array", "predicate": "yes", "expected": true},
 {"name": "key without evaluator", "predicate": {"weather": {"sunny": true}}, "expected": true},
 {"name": "key without evaluator beside a failing one", "predicate": {"weather": 1, "device": {"width": 1}}, "expected": false},

 {"name": "and: both pass", "predicate": {"device": {"minWidth": 1024}, "locale": {"language": "en"}}, "expected": true},
 {"name": "and: locale fails", "predicate": {"device": {"minWidth": 1024}, "locale": {"language": "fr"}}, "expected": false},
 {"name": "or: device fails, locale passes", "predicate": [{"device": {"minWidth": 2000}}, {"locale": {"language": "en"}}], "expected": true},
 {"name": "or: both fail", "predicate": [{"device": {"minWidth": 2000}}, {"locale": {"language": "fr"}}], "expected": false},

 {"name": "minWidth 1024", "predicate": {"device": {"minWidth": 1024}}, "expected": true},
 {"name": "maxWidth 1024", "predicate": {"device": {"maxWidth": 1024}}, "expected": false},
 {"name": "maxWidth 1440", "predicate": {"device": {"maxWidth": 1440}}, "expected": true},
 {"name": "width 1440", "predicate": {"device": {"width": 1440}}, "expected": true},
 {"name": "width 1439.5", "predicate": {"device": {"width": 1439.5}}, "expected": false},
 {"name": "height 900", "predicate": {"device": {"height": 900}}, "expected": true},
 {"name": "minHeight 901", "predicate": {"device": {"minHeight": 901}}, "expected": false},
 {"name": "maxHeight 900 and minWidth 1440", "predicate": {"device": {"maxHeight": 900, "minWidth": 1440}}, "expected": true},
 {"name": "maxHeight 899", "predicate": {"device": {"maxHeight": 899}}, "expected": false},
 {"name": "width as text", "predicate": {"device": {"width": "1440"}}, "expected": true},
 {"name": "empty device condition", "predicate": {"device": {}}, "expected": true},
 {"name": "unknown device key", "predicate": {"device": {"depth": 3}}, "expected": true},
 {"name": "device condition not a dictionary", "predicate": {"device": 1440}, "expected": false},
 {"name": "smaller screen", "predicate": {"device": {"minWidth": 1024}}, "env": {"screen": [800, 600]}, "expected": false},

 {"name": "country decides over language", "predicate": {"locale": {"language": "en", "country": "US"}}, "env": {"languages": ["de"], "country": "US"}, "expected": true},
 {"name": "country fails though language matches", "predicate": {"locale": {"language": "de", "country": "FR"}}, "env": {"languages": ["de"], "country": "US"}, "expected": false},
 {"name": "language alone", "predicate": {"locale": {"language": "de"}}, "env": {"languages": ["en", "de"]}, "expected": true},
 {"name": "language must match exactly", "predicate": {"locale": {"language": "EN"}}, "expected": false},
 {"name": "country must match exactly", "predicate": {"locale": {"country": "us"}}, "expected": false},
 {"name": "locale without its keys", "predicate": {"locale": {}}, "expected": false},
 {"name": "locale language not a string", "predicate": {"locale": {"language": 1}}, "expected": false},
 {"name": "English under a French locale: the app runs in English", "predicate": {"locale": {"language": "en"}}, "env": {"languages": "loaded", "locale": "fr_FR"}, "expected": true},
 {"name": "French under a French locale: the app has no French", "predicate": {"locale": {"language": "fr"}}, "env": {"languages": "loaded", "locale": "fr_FR"}, "expected": false},
 {"name": "English under the C locale", "predicate": {"locale": {"language": "en"}}, "env": {"languages": "loaded", "locale": "C"}, "expected": true},
 {"name": "German once its texts are loaded", "predicate": {"locale": {"language": "de"}}, "env": {"languages": "loaded", "locale": "de_DE"}, "expected": true},
 {"name": "German texts for an Austrian locale", "predicate": {"locale": {"language": "de"}}, "env": {"languages": "loaded", "locale": "de_AT"}, "expected": true},
 {"name": "not English once German texts are loaded", "predicate": {"locale": {"language": "en"}}, "env": {"languages": "loaded", "locale": "de_DE"}, "expected": false},

 {"name": "after the reference instant itself", "predicate": {"date": {"after": "03/15/2024 10:00"}}, "expected": true},
 {"name": "before the reference instant itself", "predicate": {"date": {"before": "03/15/2024 10:00"}}, "expected": false},
 {"name": "before a minute later", "predicate": {"date": {"before": "03/15/2024 10:01"}}, "expected": true},
 {"name": "after a minute later", "predicate": {"date": {"after": "03/15/2024 10:01"}}, "expected": false},
 {"name": "inside a window", "predicate": {"date": {"after": "03/01/2024 00:00", "before": "04/01/2024 00:00"}}, "expected": true},
 {"name": "after in another format is ignored", "predicate": {"date": {"after": "2024-03-16 10:00"}}, "expected": true},
 {"name": "after that is not text is ignored", "predicate": {"date": {"after": 5}}, "expected": true},

 {"name": "equals false, unset", "predicate": {"data": {"key": "K", "equals": false}}, "expected": true},
 {"name": "equals 0, unset", "predicate": {"data": {"key": "K", "equals": 0}}, "expected": true},
 {"name": "equals true, unset", "predicate": {"data": {"key": "K", "equals": true}}, "expected": false},
 {"name": "equals false, stored false", "predicate": {"data": {"key": "K", "equals": false}}, "env": {"data": {"K": false}}, "expected": true},
 {"name": "equals false, stored true", "predicate": {"data": {"key": "K", "equals": false}}, "env": {"data": {"K": true}}, "expected": false},
 {"name": "equals 3, stored 3", "predicate": {"data": {"key": "K", "equals": 3}}, "env": {"data": {"K": 3}}, "expected": true},
 {"name": "equals 3, stored 3.0", "predicate": {"data": {"key": "K", "equals": 3}}, "env": {"data": {"K": 3.0}}, "expected": true},
 {"name": "equals 3, stored 4", "predicate": {"data": {"key": "K", "equals": 3}}, "env": {"data": {"K": 4}}, "expected": false},
 {"name": "equals 3, stored an array", "predicate": {"data": {"key": "K", "equals": 3}}, "env": {"data": {"K": [3]}}, "expected": false},
 {"name": "equals 3, stored the text 3", "predicate": {"data": {"key": "K", "equals": 3}}, "env": {"data": {"K": "3"}}, "expected": false},
 {"name": "equals text", "predicate": {"data": {"key": "K", "equals": "on"}}, "env": {"data": {"K": "on"}}, "expected": true},
 {"name": "equals text, other case", "predicate": {"data": {"key": "K", "equals": "on"}}, "env": {"data": {"K": "On"}}, "expected": false},
 {"name": "no key", "predicate": {"data": {"equals": 3}}, "expected": true},
 {"name": "key without operand", "predicate": {"data": {"key": "K"}}, "env": {"data": {"K": 1}}, "expected": true},
 {"name": "equals wins over lessThan", "predicate": {"data": {"key": "K", "equals": 3, "lessThan": 10}}, "env": {"data": {"K": 5}}, "expected": false},

 {"name": "lessThan: stored below operand", "predicate": {"data": {"key": "K", "lessThan": 5}}, "env": {"data": {"K": 3}}, "expected": true},
 {"name": "lessThan: stored equal", "predicate": {"data": {"key": "K", "lessThan": 3}}, "env": {"data": {"K": 3}}, "expected": false},
 {"name": "lessThan: fractions", "predicate": {"data": {"key": "K", "lessThan": 2.5}}, "env": {"data": {"K": 2.25}}, "expected": true},
 {"name": "greaterThan: stored above operand", "predicate": {"data": {"key": "K", "greaterThan": 2}}, "env": {"data": {"K": 3}}, "expected": true},
 {"name": "greaterThan: stored equal", "predicate": {"data": {"key": "K", "greaterThan": 3}}, "env": {"data": {"K": 3}}, "expected": false},
 {"name": "lessThan on text", "predicate": {"data": {"key": "K", "lessThan": "beta"}}, "env": {"data": {"K": "alpha"}}, "expected": true},
 {"name": "lessThan text against number", "predicate": {"data": {"key": "K", "lessThan": "5"}}, "env": {"data": {"K": 3}}, "expected": false},
 {"name": "greaterThan number against text", "predicate": {"data": {"key": "K", "greaterThan": 1}}, "env": {"data": {"K": "3"}}, "expected": false},
 {"name": "lessThan, unset", "predicate": {"data": {"key": "K", "lessThan": 5}}, "expected": false},
 {"name": "greaterThan 0, unset counts as false", "predicate": {"data": {"key": "K", "greaterThan": 0}}, "expected": true},
 {"name": "data condition not a dictionary", "predicate": {"data": "K"}, "expected": false}
])";

namespace {

// The predicator a screen has, in the environment a row describes.
ZNFPredicator makePredicator(const QJsonObject& env) {
    ZNFPredicator predicator;
    auto device = std::make_shared<ZNFDevicePredicateEvaluator>();
    const QJsonArray screen = env.contains("screen") ? env["screen"].toArray() : QJsonArray{1440, 900};
    device->setScreenSizeSource([screen] { return QSizeF(screen[0].toDouble(), screen[1].toDouble()); });
    auto locale = std::make_shared<ZNFLocalizationPredicateEvaluator>();
    const QStringList languages = env["languages"].toVariant().toStringList();
    if (env["languages"] != QLatin1String("loaded"))
        locale->setPreferredLocalizationsSource(
            [languages] { return languages.isEmpty() ? QStringList{"en"} : languages; });
    locale->setCountryCodeSource(
        [country = env["country"].toString(QStringLiteral("US"))] { return country; });
    auto date = std::make_shared<ZNFDatePredicateEvaluator>();
    date->setTargetDate(ZNFDatePredicateEvaluator::dateFromString(QStringLiteral("03/15/2024 10:00")));
    auto data = std::make_shared<ZNFDataPredicateEvaluator>();
    data->setValueSource(
        [stored = env["data"].toObject().toVariantMap()](const QString& key) { return stored.value(key); });
    predicator.registerEvaluator(device, QStringLiteral("device"));
    predicator.registerEvaluator(locale, QStringLiteral("locale"));
    predicator.registerEvaluator(date, QStringLiteral("date"));
    predicator.registerEvaluator(data, QStringLiteral("data"));
    return predicator;
}

} // namespace

TEST(Predicator, TableOfCases) {
    for (const auto& rowValue : QJsonArray::fromVariantList(json(kRows).toList())) {
        const QJsonObject row = rowValue.toObject();
        const QJsonObject env = row["env"].toObject();
        const ZNFPredicator predicator = makePredicator(env);
        // "locale" switches the application's language for the row.
        const QString locale = env["locale"].toString();
        const QLocale userLocale;
        if (!locale.isEmpty()) {
            QLocale::setDefault(QLocale(locale));
            ZNFBundle::installLocalizations(QLocale(locale));
        }
        const QVariant predicate = row.contains("predicate") ? row["predicate"].toVariant() : QVariant();
        EXPECT_EQ(predicator.evaluatePredicates(predicate), row["expected"].toBool())
            << row["name"].toString().toStdString();
        if (!locale.isEmpty()) {
            QLocale::setDefault(userLocale);
            ZNFBundle::installLocalizations(QLocale::c());
        }
    }
}

TEST(Predicator, GroupsStopAtTheFirstFailureAndListsAtTheFirstPass) {
    ZNFPredicator predicator;
    QStringList asked;
    auto recorder = [&asked](bool answer) {
        return ZNFBlockPredicateEvaluator::evaluatorWithBlock(
            [&asked, answer](const QString& key, const QVariantMap& group) {
                asked << key + QLatin1Char('=') + group.value(key).toString();
                return answer;
            });
    };
    predicator.registerEvaluator(recorder(false), QStringLiteral("a"));
    predicator.registerEvaluator(recorder(true), QStringLiteral("b"));
    predicator.registerEvaluator(recorder(true), QStringLiteral("c"));
    // Dictionary keys are visited in sorted order: "a" fails first and "b" is never asked.
    EXPECT_FALSE(predicator.evaluatePredicates(QVariantMap{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(asked, QStringList({"a=1"}));
    asked.clear();
    EXPECT_TRUE(
        predicator.evaluatePredicates(QVariantList{QVariantMap{{"c", "1"}}, QVariantMap{{"a", "2"}}}));
    EXPECT_EQ(asked, QStringList({"c=1"}));

    // A later registration replaces the earlier one; a missing evaluator changes nothing.
    predicator.registerEvaluator(recorder(true), QStringLiteral("a"));
    predicator.registerEvaluator(nullptr, QStringLiteral("a"));
    EXPECT_TRUE(predicator.evaluatePredicates(QVariantMap{{"a", "1"}}));

    // A callable evaluator without a callable fails.
    predicator.registerEvaluator(std::make_shared<ZNFBlockPredicateEvaluator>(), QStringLiteral("a"));
    EXPECT_FALSE(predicator.evaluatePredicates(QVariantMap{{"a", "1"}}));
}

TEST(Predicator, StoredDatesCompareByInstant) {
    const QDateTime stored = QDateTime(QDate(2024, 3, 15), QTime(10, 0), Qt::UTC);
    ZNFDataPredicateEvaluator evaluator;
    evaluator.setValueSource([stored](const QString&) { return QVariant(stored); });
    // clang-format off
    const struct { const char* name; const char* op; QVariant operand; bool passes; } rows[] = {
        {"the same instant in another zone", "equals", stored.toTimeZone(QTimeZone(3600)), true},
        {"a minute later", "lessThan", stored.addSecs(60), true},
        {"not less than itself", "lessThan", stored, false},
        {"a minute earlier", "greaterThan", stored.addSecs(-60), true},
        {"a date in text is not a date", "greaterThan", QStringLiteral("03/15/2024 09:00"), false}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QVariantMap condition{{"key", "K"}, {row.op, row.operand}};
        EXPECT_EQ(evaluator.predicatePassesForKey("data", {{"data", condition}}), row.passes);
    }
}

TEST(Predicator, DataConditionsReadTheStandardUserDefaults) {
    ZNFUserDefaults& defaults = userDefaults();
    defaults.setObject(3, QStringLiteral("predicator-K"));
    defaults.setObject(false, QStringLiteral("predicator-flag"));

    // The provider's own data evaluator reads the same store, with the types kept.
    auto provider = makeDefaultProvider();
    const ZNFPredicator* predicator = provider->predicator();
    auto passes = [&](const QVariantMap& condition) {
        return predicator->evaluatePredicates(QVariantMap{{"data", condition}});
    };
    EXPECT_TRUE(passes({{"key", "predicator-K"}, {"equals", 3}}));
    EXPECT_TRUE(passes({{"key", "predicator-flag"}, {"equals", false}}));
    defaults.removeObjectForKey(QStringLiteral("predicator-K"));
    EXPECT_FALSE(passes({{"key", "predicator-K"}, {"equals", 3}}));
}
