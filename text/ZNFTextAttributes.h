#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <vector>

// The text system's value types: what a style turns into and what the layout reads.
// Everything the platform's attribute dictionary carried is a typed optional here; an
// empty optional is an absent key.

// Font weights of the platform, lightest to heaviest.
enum class ZNFFontWeight { UltraLight, Thin, Light, Regular, Medium, Semibold, Bold, Heavy, Black };

// A font in points. The system font has no family name; a named font keeps the name it was
// asked for. `qfont()` is the Qt font for text layout, built once, sized so that one point
// is one logical pixel: layout data and styles give sizes in points, and the screens are
// measured in logical pixels.
class ZNFFont {
public:
    // The platform's system font at a size and weight.
    static ZNFFont systemFont(double pointSize, ZNFFontWeight weight = ZNFFontWeight::Regular);
    // A font by family or face name ("DejaVu Sans", "DejaVuSans-Bold"); none when the
    // platform has no such font.
    static std::optional<ZNFFont> fontWithName(const QString& name, double pointSize);
    // The same font at another size.
    ZNFFont withPointSize(double pointSize) const;

    bool isSystemFont() const { return m_system; }
    // Empty for the system font.
    const QString& fontName() const { return m_name; }
    double pointSize() const { return m_pointSize; }
    ZNFFontWeight weight() const { return m_weight; }
    const QFont& qfont() const { return m_qfont; }

    friend bool operator==(const ZNFFont& a, const ZNFFont& b) {
        return a.m_system == b.m_system && a.m_name == b.m_name && a.m_pointSize == b.m_pointSize &&
               a.m_weight == b.m_weight;
    }

private:
    ZNFFont() = default;
    bool m_system = true;
    QString m_name;
    double m_pointSize = 0;
    ZNFFontWeight m_weight = ZNFFontWeight::Regular;
    QFont m_qfont;
};

// The platform's default system font size (the size of `defaultAttributes`).
inline constexpr double ZNFSystemFontSize = 13.0;
// The largest font size the text system lays out; Qt's font engines keep sizes and positions
// in fixed point, and larger sizes only ever come from a mistake.
inline constexpr double ZNFLargestFontSize = 1000.0;
// The font the text system uses where a run has none.
const ZNFFont& ZNFTextDefaultFont();

// Paragraph alignment with the platform's integer values.
enum class ZNFTextAlignment : int { Left = 0, Right = 1, Center = 2, Justified = 3, Natural = 4 };

struct ZNFTextTab {
    // Only left-aligned stops are made by the formatter; the others are kept for completeness.
    ZNFTextAlignment alignment = ZNFTextAlignment::Left;
    double location = 0;
    friend bool operator==(const ZNFTextTab&, const ZNFTextTab&) = default;
};

struct ZNFParagraphStyle {
    ZNFTextAlignment alignment = ZNFTextAlignment::Natural;
    // 0 means the font's own line height (as 1.0).
    double lineHeightMultiple = 0;
    // Space after a paragraph, points.
    double paragraphSpacing = 0;
    // Leading edge of the lines after the first, and of the first line, from the container's edge.
    double headIndent = 0;
    double firstLineHeadIndent = 0;
    std::vector<ZNFTextTab> tabStops = defaultTabStops();
    // Interval of the stops after the last explicit one; 0 = none.
    double defaultTabInterval = 0;

    // The platform's default: twelve left stops every 28 points.
    static std::vector<ZNFTextTab> defaultTabStops();
    friend bool operator==(const ZNFParagraphStyle&, const ZNFParagraphStyle&) = default;
};

// Underline / strikethrough values: a line style in the low byte, a pattern in the second,
// and the by-word flag: the integers that style files and layout data store.
namespace ZNFLineStyle {
inline constexpr qint64 None = 0x00;
inline constexpr qint64 Single = 0x01;
inline constexpr qint64 Thick = 0x02;
inline constexpr qint64 Double = 0x09;
inline constexpr qint64 PatternSolid = 0x0000;
inline constexpr qint64 PatternDot = 0x0100;
inline constexpr qint64 PatternDash = 0x0200;
inline constexpr qint64 PatternDashDot = 0x0300;
inline constexpr qint64 PatternDashDotDot = 0x0400;
inline constexpr qint64 ByWord = 0x8000;
inline constexpr qint64 StyleMask = 0xff;
inline constexpr qint64 PatternMask = 0x0700;
} // namespace ZNFLineStyle

// The letterpress text effect, the one effect a style can ask for.
inline constexpr QLatin1StringView ZNFTextEffectLetterpressStyle{"_NSTextEffectLetterpress"};

// One attribute dictionary. Field names follow the platform's attribute names
// (NSFontAttributeName -> font, NSBackgroundColorAttributeName -> backgroundColor, ...);
// "bg", "borderWidth", "borderColor", "cornerRadius" and "maxFontSize" are the formatter's own.
struct ZNFTextAttributes {
    std::optional<ZNFFont> font;
    std::optional<double> maxFontSize;
    std::optional<QColor> foregroundColor;
    // Painted behind the glyphs (the style's "highlight").
    std::optional<QColor> backgroundColor;
    std::optional<ZNFParagraphStyle> paragraphStyle;
    std::optional<qint64> underlineStyle;
    std::optional<QColor> underlineColor;
    std::optional<qint64> strikethroughStyle;
    std::optional<QColor> strikethroughColor;
    // Background of the whole text item (the style's "bg"), not of the glyphs.
    std::optional<QColor> bg;
    std::optional<double> borderWidth;
    std::optional<QColor> borderColor;
    std::optional<double> cornerRadius;
    std::optional<QString> textEffect;
    // Extra space after each character, points.
    std::optional<double> kern;

    // These attributes with every field that `other` sets replaced by its value.
    ZNFTextAttributes mergedWith(const ZNFTextAttributes& other) const;
    bool isEmpty() const;
    friend bool operator==(const ZNFTextAttributes&, const ZNFTextAttributes&) = default;
};

// Attribute dictionaries are shared and immutable once made: copies of a styled string or a
// style lookup hand out the same object.
using ZNFTextAttributesPtr = std::shared_ptr<const ZNFTextAttributes>;

inline ZNFTextAttributesPtr ZNFMakeAttributes(ZNFTextAttributes attributes) {
    return std::make_shared<const ZNFTextAttributes>(std::move(attributes));
}
