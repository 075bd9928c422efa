// "_predicate" values against evaluators whose world is fixed (screen, languages, country,
// reference date, stored values), so every verdict can be checked against its parts: a group
// passes exactly when each of its conditions passes alone, a list when one of its groups does.

#include "FuzzSupport.h"

#include "layout/ZNFPredicator.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace {

ZNFPredicator& predicator() {
    static ZNFPredicator* p = [] {
        auto* predicator = new ZNFPredicator;
        auto device = std::make_shared<ZNFDevicePredicateEvaluator>();
        device->setScreenSizeSource([] { return QSizeF(1440, 900); });
        auto locale = std::make_shared<ZNFLocalizationPredicateEvaluator>();
        locale->setPreferredLocalizationsSource([] {
            return QStringList{QStringLiteral("de"), QStringLiteral("en")};
        });
        locale->setCountryCodeSource([] { return QStringLiteral("US"); });
        auto date = std::make_shared<ZNFDatePredicateEvaluator>();
        date->setTargetDate(QDateTime(QDate(2024, 3, 15), QTime(10, 0)));
        auto stored = std::make_shared<ZNFDataPredicateEvaluator>();
        stored->setValueSource([](const QString& key) -> QVariant {
            if (key == "flag"_L1)
                return true;
            if (key == "count"_L1)
                return 3;
            if (key == "name"_L1)
                return QStringLiteral("Ada");
            if (key == "when"_L1)
                return QDateTime(QDate(2020, 1, 1), QTime(0, 0), QTimeZone::utc());
            if (key == "list"_L1)
                return QVariantList{1, 2};
            return QVariant();
        });
        predicator->registerEvaluator(device, QStringLiteral("device"));
        predicator->registerEvaluator(locale, QStringLiteral("locale"));
        predicator->registerEvaluator(date, QStringLiteral("date"));
        predicator->registerEvaluator(stored, QStringLiteral("data"));
        predicator->registerEvaluator(
            ZNFBlockPredicateEvaluator::evaluatorWithBlock([](const QString& key, const QVariantMap& group) {
                return group.value(key).toInt() % 2 == 1;
            }),
            QStringLiteral("odd"));
        predicator->registerEvaluator(ZNFBlockPredicateEvaluator::evaluatorWithBlock({}),
                                      QStringLiteral("never"));
        return predicator;
    }();
    return *p;
}

bool isMap(const QVariant& v) {
    return v.metaType().id() == QMetaType::QVariantMap;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NCFuzz::environment();
    // Bracketed so that a bare string or number is a value too, as layout data may hold one.
    const QJsonDocument document = QJsonDocument::fromJson("[" + NCFuzz::bytes(data, size) + "]");
    if (!document.isArray() || document.array().size() != 1)
        return 0;
    const QVariant value = document.array().at(0).toVariant();
    const ZNFPredicator& p = predicator();

    const bool verdict = p.evaluatePredicates(value);
    FUZZ_CHECK(verdict == p.evaluatePredicates(value), QStringLiteral("two verdicts for one value"));

    auto groupVerdict = [&](const QVariantMap& group) {
        // Every condition alone; a key without an evaluator changes nothing.
        bool all = true;
        for (auto it = group.cbegin(); it != group.cend(); ++it)
            if (p.evaluators().contains(it.key()))
                all = all && p.evaluatePredicates(QVariantMap{{it.key(), it.value()}});
        return all;
    };

    if (isMap(value)) {
        const QVariantMap group = value.toMap();
        FUZZ_CHECK(verdict == (!group.isEmpty() && groupVerdict(group)),
                   QStringLiteral("a group is not the AND of its conditions"));
    } else if (value.metaType().id() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        bool anyMap = false, any = false;
        for (const QVariant& element : list) {
            if (!isMap(element))
                continue;
            anyMap = true;
            any = any || p.evaluatePredicates(element);
        }
        if (list.isEmpty())
            FUZZ_CHECK(verdict, QStringLiteral("an empty list failed"));
        else if (anyMap && list.size() == qsizetype(std::count_if(list.begin(), list.end(), isMap)))
            FUZZ_CHECK(verdict == any, QStringLiteral("a list is not the OR of its groups"));
    } else {
        FUZZ_CHECK(verdict, QStringLiteral("a value that is neither list nor group failed"));
    }
    return 0;
}
