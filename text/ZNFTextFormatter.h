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
inline constexpr QLatin1StringView ZNFTextFormatterKey_fontName{"fontName"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_fontSize{"fontSize"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_fontWeight{"fontWeight"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_maxFontSize{"maxFontSize"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_color{"color"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_highlight{"highlight"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_backgroundColor{"bg"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_align{"align"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_lineHeight{"lineHeight"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_paragraphSpacing{"paragraphSpacing"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_tabs{"tabs"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_letterpress{"letterpress"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_underline{"underline"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_underlineColor{"underlineColor"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_strikethrough{"strikethrough"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_characterSpacing{"characterSpacing"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_borderColor{"borderColor"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_borderWidth{"borderWidth"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_cornerRadius{"cornerRadius"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_template{"template"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_top{"top"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_left{"left"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_bottom{"bottom"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_right{"right"};
// Alignment values ("left" and "right" double as inset keys).
inline constexpr QLatin1StringView ZNFTextFormatterKey_center{"center"};
inline constexpr QLatin1StringView ZNFTextFormatterKey_natural{"natural"};
// The top-level key of the style resource that holds the style table.
inline constexpr QLatin1StringView ZNFTextFormatterKey_formats{"formats"};

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

    const AttributesTable& internalAttributes() const { return m_internalAttributes; }
    const QHash<QString, ZNFEdgeInsets>& internalInsets() const { return m_internalInsets; }

private:
    AttributesTable m_internalAttributes;
    QHash<QString, ZNFEdgeInsets> m_internalInsets;
    mutable ZNFTextAttributesPtr m_defaultAttributes;
};
