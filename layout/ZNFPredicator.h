#pragma once

#include <QDateTime>
#include <QHash>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

// Condition keys of the standard evaluators.
inline constexpr QLatin1StringView ZNFDevicePredicateEvaluatorKey_Width{"width"};
inline constexpr QLatin1StringView ZNFDevicePredicateEvaluatorKey_Height{"height"};
inline constexpr QLatin1StringView ZNFDevicePredicateEvaluatorKey_MinWidth{"minWidth"};
inline constexpr QLatin1StringView ZNFDevicePredicateEvaluatorKey_MaxWidth{"maxWidth"};
inline constexpr QLatin1StringView ZNFDevicePredicateEvaluatorKey_MinHeight{"minHeight"};
inline constexpr QLatin1StringView ZNFDevicePredicateEvaluatorKey_MaxHeight{"maxHeight"};
inline constexpr QLatin1StringView ZNFLocalizationPredicateEvaluatorKey_Language{"language"};
inline constexpr QLatin1StringView ZNFLocalizationPredicateEvaluatorKey_Country{"country"};
inline constexpr QLatin1StringView ZNFDatePredicateEvaluatorKey_Before{"before"};
inline constexpr QLatin1StringView ZNFDatePredicateEvaluatorKey_After{"after"};
inline constexpr QLatin1StringView ZNFDataPredicateEvaluatorKey_Key{"key"};
inline constexpr QLatin1StringView ZNFDataPredicateEvaluatorKey_Equals{"equals"};
inline constexpr QLatin1StringView ZNFDataPredicateEvaluatorKey_LessThan{"lessThan"};
inline constexpr QLatin1StringView ZNFDataPredicateEvaluatorKey_GreaterThan{"greaterThan"};

// The keys under which the layout provider registers the standard evaluators.
inline constexpr QLatin1StringView ZNFPredicatorKey_Device{"device"};
inline constexpr QLatin1StringView ZNFPredicatorKey_Locale{"locale"};
inline constexpr QLatin1StringView ZNFPredicatorKey_Date{"date"};
inline constexpr QLatin1StringView ZNFPredicatorKey_Data{"data"};

class ZNFPredicateEvaluator {
public:
    virtual ~ZNFPredicateEvaluator() = default;
    // `predicates` is the group that holds `key`; the evaluator reads its own condition as
    // predicates[key].
    virtual bool predicatePassesForKey(const QString& key, const QVariantMap& predicates) = 0;
};

// Evaluates "_predicate" values: a dictionary is one group whose conditions must all pass, an
// array a list of groups of which one must pass; anything else is an empty list and passes.
class ZNFPredicator {
public:
    const QHash<QString, std::shared_ptr<ZNFPredicateEvaluator>>& evaluators() const { return m_evaluators; }
    // A later registration under the same key replaces the earlier one. A missing evaluator or
    // key changes nothing.
    void registerEvaluator(const std::shared_ptr<ZNFPredicateEvaluator>& evaluator, const QString& key);
    // Takes over every evaluator of the other predicator, replacing same keys.
    void updateWithTemplate(const ZNFPredicator* other);
    bool evaluatePredicates(const QVariant& predicates) const;

private:
    QHash<QString, std::shared_ptr<ZNFPredicateEvaluator>> m_evaluators;
};

// A condition that is not a dictionary fails in every standard evaluator.

// Screen size conditions, against the primary screen's size in points.
class ZNFDevicePredicateEvaluator : public ZNFPredicateEvaluator {
public:
    bool predicatePassesForKey(const QString& key, const QVariantMap& predicates) override;
    // Where the screen size comes from; the primary screen when unset. Read for every condition.
    void setScreenSizeSource(std::function<QSizeF()> source) { m_screenSize = std::move(source); }
    static QSizeF mainScreenSize();

private:
    std::function<QSizeF()> m_screenSize;
};

// "language" against the application's preferred localizations, "country" against the
// current locale's country code; with both, the country alone decides.
class ZNFLocalizationPredicateEvaluator : public ZNFPredicateEvaluator {
public:
    bool predicatePassesForKey(const QString& key, const QVariantMap& predicates) override;
    void setPreferredLocalizationsSource(std::function<QStringList()> source) {
        m_localizations = std::move(source);
    }
    void setCountryCodeSource(std::function<QString()> source) { m_country = std::move(source); }
    // The languages the application runs in ("en", or "de" where German texts were loaded).
    static QStringList preferredLocalizations();
    // The two-letter country of the system locale ("US").
    static QString currentCountryCode();

private:
    std::function<QStringList()> m_localizations;
    std::function<QString()> m_country;
};

// "before" and "after" dates written "MM/dd/yyyy HH:mm" in local time.
class ZNFDatePredicateEvaluator : public ZNFPredicateEvaluator {
public:
    bool predicatePassesForKey(const QString& key, const QVariantMap& predicates) override;
    // The reference date; the current date when unset.
    std::optional<QDateTime> targetDate() const { return m_targetDate; }
    void setTargetDate(std::optional<QDateTime> date) { m_targetDate = std::move(date); }
    // An invalid date when the text is not in the format.
    static QDateTime dateFromString(const QString& text);

private:
    std::optional<QDateTime> m_targetDate;
};

// A stored setting compared with "equals", "lessThan" or "greaterThan". "lessThan" passes when
// the stored value is less than the operand, "greaterThan" when it is greater; values of
// different kinds never compare. An unset setting counts as equal to false.
class ZNFDataPredicateEvaluator : public ZNFPredicateEvaluator {
public:
    bool predicatePassesForKey(const QString& key, const QVariantMap& predicates) override;
    // Where stored values come from; the standard user defaults when unset. A null QVariant
    // means nothing is stored.
    void setValueSource(std::function<QVariant(const QString&)> source) { m_valueSource = std::move(source); }

private:
    std::function<QVariant(const QString&)> m_valueSource;
};

// A callable as an evaluator; without one every condition fails.
class ZNFBlockPredicateEvaluator : public ZNFPredicateEvaluator {
public:
    using Block = std::function<bool(const QString& key, const QVariantMap& predicates)>;
    static std::shared_ptr<ZNFBlockPredicateEvaluator> evaluatorWithBlock(Block block);
    bool predicatePassesForKey(const QString& key, const QVariantMap& predicates) override;
    const Block& block() const { return m_block; }
    void setBlock(Block block) { m_block = std::move(block); }

private:
    Block m_block;
};
