#pragma once

#include "platform/ZNFGeometry.h"
#include "text/ZNFTextAttributes.h"

#include <QColor>
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <map>
#include <optional>

// Style keys of a style dictionary.
inline constexpr auto ZNFTextFormatterKey_fontName = "fontName";
inline constexpr auto ZNFTextFormatterKey_fontSize = "fontSize";
inline constexpr auto ZNFTextFormatterKey_fontWeight = "fontWeight";
inline constexpr auto ZNFTextFormatterKey_maxFontSize = "maxFontSize";
inline constexpr auto ZNFTextFormatterKey_color = "color";
inline constexpr auto ZNFTextFormatterKey_highlight = "highlight";
inline constexpr auto ZNFTextFormatterKey_backgroundColor = "bg";
inline constexpr auto ZNFTextFormatterKey_align = "align";
inline constexpr auto ZNFTextFormatterKey_lineHeight = "lineHeight";
inline constexpr auto ZNFTextFormatterKey_paragraphSpacing = "paragraphSpacing";
inline constexpr auto ZNFTextFormatterKey_tabs = "tabs";
inline constexpr auto ZNFTextFormatterKey_letterpress = "letterpress";
inline constexpr auto ZNFTextFormatterKey_underline = "underline";
inline constexpr auto ZNFTextFormatterKey_underlineColor = "underlineColor";
inline constexpr auto ZNFTextFormatterKey_strikethrough = "strikethrough";
inline constexpr auto ZNFTextFormatterKey_characterSpacing = "characterSpacing";
inline constexpr auto ZNFTextFormatterKey_borderColor = "borderColor";
inline constexpr auto ZNFTextFormatterKey_borderWidth = "borderWidth";
inline constexpr auto ZNFTextFormatterKey_cornerRadius = "cornerRadius";
inline constexpr auto ZNFTextFormatterKey_template = "template";
inline constexpr auto ZNFTextFormatterKey_top = "top";
inline constexpr auto ZNFTextFormatterKey_left = "left";
inline constexpr auto ZNFTextFormatterKey_bottom = "bottom";
inline constexpr auto ZNFTextFormatterKey_right = "right";
// Alignment values ("left" and "right" double as inset keys).
inline constexpr auto ZNFTextFormatterKey_center = "center";
inline constexpr auto ZNFTextFormatterKey_natural = "natural";
// The top-level key of the style resource that holds the style table.
inline constexpr auto ZNFTextFormatterKey_formats = "formats";

// The platform's readings of loosely typed values, shared by everything that reads style or
// layout dictionaries. A string's number is its longest leading decimal (blanks skipped, 0
// when there is none); a string is true when it starts with Y, y, T, t or a digit 1-9 (after
// blanks, a sign and zeros); numbers are true when not 0; anything else is false.
double ZNFDoubleReading(const QString& text);
bool ZNFBoolReading(const QVariant& value);
// The largest magnitude a reading gives; beyond it a number is held to it, with a log line.
inline constexpr double ZNFLargestNumberReading = 1e6;
// A number, or a string read as a number; none for other values and for NaN or infinity.
std::optional<double> ZNFNumberReading(const QVariant& value);

// The registry of named text styles. Registration resolves templates and builds every
// style's attributes and insets once; lookups are table reads that hand out the style's
// shared, immutable attributes.
class ZNFTextFormatter {
public:
    using AttributesTable = QHash<QString, ZNFTextAttributesPtr>;

    ZNFTextFormatter();

    // Registers every style of a table (style name -> style dictionary). Styles already
    // registered under other names stay; same names are replaced.
    void registerKeyedAttributes(const QVariantMap& table);
    // Resolves one style's templates against `master` and stores its attributes and insets.
    void registerAttributes(const QVariantMap& style, const QString& key, const QVariantMap& master);
    // Loads a property list (XML or binary) and registers its "formats" table. False, with a
    // reason in `error`, when the file cannot be read or has no such table; nothing changes then.
    bool registerKeyedAttributesFromFile(const QString& path, QString* error = nullptr);

    // Attributes of one style dictionary, with no template resolution and nothing stored.
    ZNFTextAttributesPtr attributesFromDictionary(const QVariantMap& style) const;
    // The attributes of a registered style; `defaultAttributes` for any other name.
    ZNFTextAttributesPtr attributesForKey(const QString& key) const;
    // Only the system font at the platform's default size.
    ZNFTextAttributesPtr defaultAttributes() const;
    // Zero insets for a name that is not registered.
    ZNFEdgeInsets insetsForKey(const QString& key) const;
    // Black for a name that is not registered.
    QColor colorForKey(const QString& key) const;
    // White for a name that is not registered; clear for a registered style without "bg".
    QColor backgroundColorForKey(const QString& key) const;
    // Stores the insets of a dictionary under a name.
    void parseInsetsFromAttributes(const QVariantMap& style, const QString& key);
    bool hasStyle(const QString& key) const { return m_internalAttributes.contains(key); }

    // "top", "left", "bottom", "right" numbers of a dictionary, each 0 when absent or not a number.
    static ZNFEdgeInsets insetsValueFromDictionary(const QVariantMap& dictionary);

    // Colour strings: "rgba(r, g, b, a)" or six hex digits with an optional "#". Anything
    // else, including no string at all, is black.
    static QColor colorFromString(const std::optional<QString>& string);
    static QColor colorFromString(const QString& string) {
        return colorFromString(std::optional<QString>(string));
    }
    static QColor colorFromString(const char* string) { return colorFromString(QString::fromUtf8(string)); }
    // Non-string values (a number, nothing) are black.
    static QColor colorFromString(const QVariant& value);
    // The rgba syntax; none unless the string holds "rgba" and exactly four components.
    static std::optional<QColor> colorWithRGBAString(const QString& string);
    // The hex syntax; black unless exactly six characters remain after removing "#" and blanks.
    static QColor colorWithHexString(const QString& string);

    // Per-attribute builders, each reading one style dictionary.
    static std::optional<ZNFFont> fontFromAttributesInfo(const QVariantMap& info);
    static ZNFParagraphStyle paragraphStyleFromInfo(const QVariantMap& info);
    static std::optional<qint64> underlineStyleFromInfo(const QVariantMap& info);
    static std::optional<qint64> strikethroughStyleFromInfo(const QVariantMap& info);
    // The text colour ("color"); black when absent.
    static QColor colorFromAttributesInfo(const QVariantMap& info);
    // The item background ("bg"); clear when absent or empty.
    static QColor backgroundColorFromAttributesInfo(const QVariantMap& info);
    // Line-style names to underline/strikethrough values ("none", "single", "thick", "double",
    // "solid", "dot", "dash", "dashDot", "dashDotDot", "byWord").
    static std::map<QString, qint64> keyedLineStyles();
    // Weight names to weights ("ultraLight" ... "black"); made once per process.
    static const std::map<QString, ZNFFontWeight>& keyedFontWeights();

    // Dynamic type. No multipliers or levels exist in this application, so scaling has
    // nothing to scale by; the machinery is here for styles that opt in later.
    // The scaled table for a key, cached; none for a key without a multiplier.
    const AttributesTable* dynamicAttributes(const QString& dynamicTypeKey);
    QVariantMap dynamicTypeMultipliers() const { return {}; }
    QVariantMap dynamicTypeLevels() const { return {}; }
    void updateDynamicTypeCategory(const QString& category) { Q_UNUSED(category); }
    void handleDynamicTypeNotification(const QString& notificationName) { Q_UNUSED(notificationName); }

    const std::optional<QString>& dynamicTypeKey() const { return m_dynamicTypeKey; }
    void setDynamicTypeKey(const std::optional<QString>& key) { m_dynamicTypeKey = key; }
    qint64 dynamicTypeLevel() const { return m_dynamicTypeLevel; }
    void setDynamicTypeLevel(qint64 level) { m_dynamicTypeLevel = level; }
    bool automaticallyInferDynamicTypeSizes() const { return m_automaticallyInferDynamicTypeSizes; }
    void setAutomaticallyInferDynamicTypeSizes(bool on) { m_automaticallyInferDynamicTypeSizes = on; }

    const AttributesTable& internalAttributes() const { return m_internalAttributes; }
    const QHash<QString, ZNFEdgeInsets>& internalInsets() const { return m_internalInsets; }

private:
    AttributesTable m_internalAttributes;
    QHash<QString, ZNFEdgeInsets> m_internalInsets;
    QHash<QString, AttributesTable> m_attributesKeyedForDynamicType;
    std::optional<QString> m_dynamicTypeKey;
    qint64 m_dynamicTypeLevel = -1;
    bool m_automaticallyInferDynamicTypeSizes = false;
    mutable ZNFTextAttributesPtr m_defaultAttributes;
};
