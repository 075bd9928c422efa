#include "layout/ZNFPredicator.h"

#include "layout/ZNFUserDefaults.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFValueReading.h"

#include <QGuiApplication>
#include <QLocale>
#include <QScreen>

void ZNFPredicator::registerEvaluator(const std::shared_ptr<ZNFPredicateEvaluator>& evaluator,
                                      const QString& key) {
    if (!evaluator || key.isEmpty())
        return;
    m_evaluators.insert(key, evaluator);
}

void ZNFPredicator::updateWithTemplate(const ZNFPredicator* other) {
    if (!other || other == this)
        return;
    for (auto it = other->m_evaluators.cbegin(); it != other->m_evaluators.cend(); ++it)
        m_evaluators.insert(it.key(), it.value());
}

bool ZNFPredicator::evaluatePredicates(const QVariant& predicates) const {
    QVariantList groups;
    if (predicates.typeId() == QMetaType::QVariantList)
        groups = predicates.toList();
    else if (predicates.typeId() == QMetaType::QVariantMap)
        groups.append(predicates);
    if (groups.isEmpty())
        return true;
    for (const QVariant& entry : groups) {
        // An entry that is not a dictionary holds no condition: it is skipped like an empty group.
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap group = entry.toMap();
        if (group.isEmpty())
            continue;
        bool passes = true;
        for (auto it = group.cbegin(); it != group.cend() && passes; ++it) {
            const auto evaluator = m_evaluators.value(it.key());
            if (evaluator)
                passes = evaluator->predicatePassesForKey(it.key(), group);
        }
        if (passes)
            return true;
    }
    return false;
}

namespace {

bool conditionOf(const QString& key, const QVariantMap& predicates, QVariantMap* condition) {
    const QVariant value = predicates.value(key);
    if (value.typeId() != QMetaType::QVariantMap)
        return false;
    *condition = value.toMap();
    return true;
}

bool isDate(const QVariant& v) {
    return v.typeId() == QMetaType::QDateTime;
}

// -1, 0 or 1 for two numbers: integers compared exactly, anything else as doubles.
int compareNumbers(const QVariant& a, const QVariant& b) {
    auto integral = [](const QVariant& v) {
        return v.typeId() != QMetaType::Double && v.typeId() != QMetaType::Float;
    };
    if (integral(a) && integral(b) && a.typeId() != QMetaType::ULongLong &&
        b.typeId() != QMetaType::ULongLong) {
        const qlonglong x = a.toLongLong(), y = b.toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const double x = a.toDouble(), y = b.toDouble();
    return x < y ? -1 : (x > y ? 1 : 0);
}

} // namespace

QSizeF ZNFDevicePredicateEvaluator::mainScreenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? QSizeF(screen->geometry().size()) : QSizeF(0, 0);
}

bool ZNFDevicePredicateEvaluator::predicatePassesForKey(const QString& key, const QVariantMap& predicates) {
    QVariantMap condition;
    if (!conditionOf(key, predicates, &condition))
        return false;
    for (auto it = condition.cbegin(); it != condition.cend(); ++it) {
        const QSizeF screen = m_screenSize ? m_screenSize() : mainScreenSize();
        // Single precision: screen sizes are whole or half points, and a limit written as
        // 320.0000001 in layout data is meant as 320, not as a width no screen has.
        const double v = static_cast<float>(it.value().toDouble());
        const QString& k = it.key();
        bool passes = true;
        if (k == ZNFDevicePredicateEvaluatorKey_Width)
            passes = screen.width() == v;
        else if (k == ZNFDevicePredicateEvaluatorKey_Height)
            passes = screen.height() == v;
        else if (k == ZNFDevicePredicateEvaluatorKey_MinWidth)
            passes = screen.width() >= v;
        else if (k == ZNFDevicePredicateEvaluatorKey_MaxWidth)
            passes = v >= screen.width();
        else if (k == ZNFDevicePredicateEvaluatorKey_MinHeight)
            passes = screen.height() >= v;
        else if (k == ZNFDevicePredicateEvaluatorKey_MaxHeight)
            passes = v >= screen.height();
        if (!passes)
            return false;
    }
    return true;
}

QStringList ZNFLocalizationPredicateEvaluator::preferredLocalizations() {
    // The languages the application loaded its texts in, not the user's: a layout that asks
    // for English gets it wherever the application shows English.
    return ZNFBundle::preferredLocalizations();
}

QString ZNFLocalizationPredicateEvaluator::currentCountryCode() {
    const QString name = QLocale::system().name(); // "en_US"
    const QString country = name.section(QLatin1Char('_'), 1, 1);
    return country;
}

bool ZNFLocalizationPredicateEvaluator::predicatePassesForKey(const QString& key,
                                                              const QVariantMap& predicates) {
    QVariantMap condition;
    if (!conditionOf(key, predicates, &condition))
        return false;
    bool passes = false;
    const QString languageKey = ZNFLocalizationPredicateEvaluatorKey_Language;
    const QString countryKey = ZNFLocalizationPredicateEvaluatorKey_Country;
    if (condition.contains(languageKey)) {
        const QStringList localizations = m_localizations ? m_localizations() : preferredLocalizations();
        const QVariant language = condition.value(languageKey);
        passes = ZNFIsString(language) && localizations.contains(language.toString());
    }
    if (condition.contains(countryKey)) {
        const QVariant country = condition.value(countryKey);
        passes =
            ZNFIsString(country) && (m_country ? m_country() : currentCountryCode()) == country.toString();
    }
    return passes;
}

QDateTime ZNFDatePredicateEvaluator::dateFromString(const QString& text) {
    static const QString format = QStringLiteral("MM/dd/yyyy HH:mm");
    QDateTime date = QDateTime::fromString(text, format);
    if (date.isValid())
        date.setTimeSpec(Qt::LocalTime);
    return date;
}

bool ZNFDatePredicateEvaluator::predicatePassesForKey(const QString& key, const QVariantMap& predicates) {
    QVariantMap condition;
    if (!conditionOf(key, predicates, &condition))
        return false;
    const QDateTime reference = m_targetDate ? *m_targetDate : QDateTime::currentDateTime();
    for (auto it = condition.cbegin(); it != condition.cend(); ++it) {
        if (!ZNFIsString(it.value()))
            continue;
        const QDateTime date = dateFromString(it.value().toString());
        if (!date.isValid())
            continue;
        if (it.key() == ZNFDatePredicateEvaluatorKey_After) {
            if (!(reference >= date))
                return false;
        } else if (it.key() == ZNFDatePredicateEvaluatorKey_Before) {
            if (!(date > reference))
                return false;
        }
    }
    return true;
}

bool ZNFDataPredicateEvaluator::predicatePassesForKey(const QString& key, const QVariantMap& predicates) {
    QVariantMap condition;
    if (!conditionOf(key, predicates, &condition))
        return false;
    const QString keyKey = ZNFDataPredicateEvaluatorKey_Key;
    if (!condition.contains(keyKey))
        return true;
    const QVariant storedKey = condition.value(keyKey);
    if (!ZNFIsString(storedKey))
        return false;
    const QVariant stored = m_valueSource
                                ? m_valueSource(storedKey.toString())
                                : ZNFUserDefaults::standardUserDefaults().objectForKey(storedKey.toString());

    const QString equalsKey = ZNFDataPredicateEvaluatorKey_Equals;
    const QString lessKey = ZNFDataPredicateEvaluatorKey_LessThan;
    const QString greaterKey = ZNFDataPredicateEvaluatorKey_GreaterThan;
    QVariant operand;
    int wanted; // the stored value's wanted order against the operand
    bool equality = false;
    if (condition.contains(equalsKey)) {
        operand = condition.value(equalsKey);
        equality = true;
        wanted = 0;
    } else if (condition.contains(lessKey)) {
        operand = condition.value(lessKey);
        wanted = -1;
    } else if (condition.contains(greaterKey)) {
        operand = condition.value(greaterKey);
        wanted = 1;
    } else {
        return true;
    }

    int order = 0;
    bool comparable = true;
    if (ZNFIsNumber(operand) && ZNFIsNumber(stored))
        order = compareNumbers(stored, operand);
    else if (ZNFIsString(operand) && ZNFIsString(stored)) {
        const int c = QString::compare(stored.toString(), operand.toString(), Qt::CaseSensitive);
        order = c < 0 ? -1 : (c > 0 ? 1 : 0);
    } else if (isDate(operand) && isDate(stored)) {
        const QDateTime a = stored.toDateTime(), b = operand.toDateTime();
        order = a < b ? -1 : (a > b ? 1 : 0);
    } else
        comparable = false;
    if (comparable)
        return equality ? order == 0 : order == wanted;
    // An unset setting counts as equal to false.
    const bool unset = !stored.isValid() || stored.isNull();
    if (unset && ZNFIsNumber(operand) && !operand.toBool())
        return true;
    return false;
}

std::shared_ptr<ZNFBlockPredicateEvaluator> ZNFBlockPredicateEvaluator::evaluatorWithBlock(Block block) {
    auto evaluator = std::make_shared<ZNFBlockPredicateEvaluator>();
    evaluator->setBlock(std::move(block));
    return evaluator;
}

bool ZNFBlockPredicateEvaluator::predicatePassesForKey(const QString& key, const QVariantMap& predicates) {
    return m_block ? m_block(key, predicates) : false;
}
