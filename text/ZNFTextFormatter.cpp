#include "text/ZNFTextFormatter.h"

#include "platform/ZNFNumberFormat.h"
#include "platform/ZNFValueReading.h"
#include "text/ZNFPropertyList.h"
#include "text/ZNFTextLog.h"

#include <QSet>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

QString key(QLatin1StringView k) {
    return k;
}

std::optional<double> finiteNumber(const QVariant& v) {
    if (!ZNFIsNumber(v))
        return std::nullopt;
    const double d = v.toDouble();
    return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
}

// What the text system can lay out: Qt keeps positions in 26.6 fixed point, and a size or
// distance far beyond a screen only ever comes from a mistake. Values outside are held to the
// range, with a log line.
constexpr double kMaxLineHeightMultiple = 100;
constexpr double kMaxDistance = 10000; // insets, paragraph spacing, tab stops
constexpr double kMaxCharacterSpacing = 1000;

double clampedStyleValue(QLatin1StringView key, double value, double low, double high) {
    const double clamped = std::clamp(value, low, high);
    if (clamped != value)
        qCWarning(lcText()).noquote()
            << QStringLiteral("Style value %1 %2 is out of range; %3 is used")
                   .arg(QString(key), ZNFShortestNumber(value), ZNFShortestNumber(clamped));
    return clamped;
}

std::optional<qint64> lineStyleFromValue(const QVariant& v) {
    if (!ZNFIsString(v))
        return std::nullopt;
    const auto styles = ZNFTextFormatter::keyedLineStyles();
    const auto it = styles.find(v.toString());
    if (it == styles.end())
        return std::nullopt;
    return it->second;
}

} // namespace

ZNFTextFormatter::ZNFTextFormatter() = default;

void ZNFTextFormatter::registerKeyedAttributes(const QVariantMap& table) {
    for (auto it = table.constBegin(); it != table.constEnd(); ++it)
        registerAttributes(it.value().toMap(), it.key(), table);
}

void ZNFTextFormatter::registerAttributes(const QVariantMap& style, const QString& name,
                                          const QVariantMap& master) {
    // The template chain, nearest first. It ends at a name the master map lacks, and at a name
    // already in the chain (a cycle would otherwise never end).
    std::vector<QVariantMap> chain;
    QSet<QString> seen{name};
    QVariantMap current = style;
    for (;;) {
        const QVariant templ = current.value(key(ZNFTextFormatterKey_template));
        if (!ZNFIsString(templ))
            break;
        const QString templateName = templ.toString();
        if (seen.contains(templateName) || !master.contains(templateName))
            break;
        seen.insert(templateName);
        current = master.value(templateName).toMap();
        chain.push_back(current);
    }
    QVariantMap merged;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        merged.insert(*it);
    merged.insert(style);

    m_internalInsets.insert(name, insetsValueFromDictionary(merged));
    m_internalAttributes.insert(name, attributesFromDictionary(merged));
}

bool ZNFTextFormatter::registerKeyedAttributesFromFile(const QString& path, QString* error) {
    QString reason;
    const QVariant root = ZNFPropertyListFromFile(path, &reason);
    if (!root.isValid()) {
        if (error)
            *error = reason;
        return false;
    }
    const QVariant formats = root.toMap().value(key(ZNFTextFormatterKey_formats));
    if (root.metaType().id() != QMetaType::QVariantMap || formats.metaType().id() != QMetaType::QVariantMap) {
        if (error)
            *error =
                QStringLiteral("%1 has no \"%2\" dictionary").arg(path, key(ZNFTextFormatterKey_formats));
        return false;
    }
    registerKeyedAttributes(formats.toMap());
    return true;
}

ZNFTextAttributesPtr ZNFTextFormatter::attributesFromDictionary(const QVariantMap& info) const {
    ZNFTextAttributes a;
    a.font = fontFromAttributesInfo(info);
    if (info.contains(key(ZNFTextFormatterKey_maxFontSize)))
        a.maxFontSize = ZNFNumberReading(info.value(key(ZNFTextFormatterKey_maxFontSize)));
    a.foregroundColor = colorFromAttributesInfo(info);
    if (info.contains(key(ZNFTextFormatterKey_highlight)))
        a.backgroundColor = colorFromString(info.value(key(ZNFTextFormatterKey_highlight)));
    a.paragraphStyle = paragraphStyleFromInfo(info);
    a.underlineStyle = underlineStyleFromInfo(info);
    if (a.underlineStyle && info.contains(key(ZNFTextFormatterKey_underlineColor)))
        a.underlineColor = colorFromString(info.value(key(ZNFTextFormatterKey_underlineColor)));
    a.strikethroughStyle = strikethroughStyleFromInfo(info);
    a.bg = backgroundColorFromAttributesInfo(info);
    if (info.contains(key(ZNFTextFormatterKey_borderWidth)))
        a.borderWidth = ZNFNumberReading(info.value(key(ZNFTextFormatterKey_borderWidth)));
    if (info.contains(key(ZNFTextFormatterKey_borderColor)))
        a.borderColor = colorFromString(info.value(key(ZNFTextFormatterKey_borderColor)));
    if (info.contains(key(ZNFTextFormatterKey_cornerRadius)))
        a.cornerRadius = ZNFNumberReading(info.value(key(ZNFTextFormatterKey_cornerRadius)));
    if (ZNFBoolReading(info.value(key(ZNFTextFormatterKey_letterpress))))
        a.textEffect = QString(ZNFTextEffectLetterpressStyle);
    if (const auto kern = finiteNumber(info.value(key(ZNFTextFormatterKey_characterSpacing))))
        a.kern = clampedStyleValue(ZNFTextFormatterKey_characterSpacing, *kern, -kMaxCharacterSpacing,
                                   kMaxCharacterSpacing);
    return ZNFMakeAttributes(std::move(a));
}

ZNFTextAttributesPtr ZNFTextFormatter::attributesForKey(const QString& name) const {
    if (auto found = m_internalAttributes.value(name))
        return found;
    return defaultAttributes();
}

ZNFTextAttributesPtr ZNFTextFormatter::defaultAttributes() const {
    if (!m_defaultAttributes) {
        ZNFTextAttributes a;
        a.font = ZNFFont::systemFont(ZNFSystemFontSize);
        m_defaultAttributes = ZNFMakeAttributes(std::move(a));
    }
    return m_defaultAttributes;
}

ZNFEdgeInsets ZNFTextFormatter::insetsForKey(const QString& name) const {
    return m_internalInsets.value(name, ZNFEdgeInsetsZero);
}

QColor ZNFTextFormatter::colorForKey(const QString& name) const {
    const auto found = m_internalAttributes.value(name);
    if (found && found->foregroundColor)
        return *found->foregroundColor;
    return QColor(Qt::black);
}

QColor ZNFTextFormatter::backgroundColorForKey(const QString& name) const {
    const auto found = m_internalAttributes.value(name);
    if (!found)
        return QColor(Qt::white);
    return found->bg.value_or(QColor(Qt::transparent));
}

void ZNFTextFormatter::parseInsetsFromAttributes(const QVariantMap& style, const QString& name) {
    m_internalInsets.insert(name, insetsValueFromDictionary(style));
}

ZNFEdgeInsets ZNFTextFormatter::insetsValueFromDictionary(const QVariantMap& d) {
    // A negative inset would make a text measure smaller than its lines.
    auto read = [&](QLatin1StringView k) {
        return clampedStyleValue(k, ZNFNumberReading(d.value(key(k))).value_or(0.0), 0, kMaxDistance);
    };
    return ZNFEdgeInsets{read(ZNFTextFormatterKey_top), read(ZNFTextFormatterKey_left),
                         read(ZNFTextFormatterKey_bottom), read(ZNFTextFormatterKey_right)};
}

QColor ZNFTextFormatter::colorFromString(const std::optional<QString>& string) {
    if (!string)
        return QColor(Qt::black);
    if (auto rgba = colorWithRGBAString(*string))
        return *rgba;
    return colorWithHexString(*string);
}

QColor ZNFTextFormatter::colorFromString(const QVariant& value) {
    if (!ZNFIsString(value))
        return QColor(Qt::black);
    return colorFromString(std::optional<QString>(value.toString()));
}

std::optional<QColor> ZNFTextFormatter::colorWithRGBAString(const QString& string) {
    if (!string.contains("rgba"_L1))
        return std::nullopt;
    const QString strip = QStringLiteral("rgba() ");
    qsizetype start = 0, end = string.size();
    while (start < end && strip.contains(string.at(start)))
        ++start;
    while (end > start && strip.contains(string.at(end - 1)))
        --end;
    const QStringList parts = string.mid(start, end - start).split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    auto channel = [](double v) { return std::clamp(v, 0.0, 1.0); };
    return QColor::fromRgbF(static_cast<float>(channel(ZNFDoubleReading(parts[0]) / 255.0)),
                            static_cast<float>(channel(ZNFDoubleReading(parts[1]) / 255.0)),
                            static_cast<float>(channel(ZNFDoubleReading(parts[2]) / 255.0)),
                            static_cast<float>(channel(ZNFDoubleReading(parts[3]))));
}

QColor ZNFTextFormatter::colorWithHexString(const QString& string) {
    QString s = string;
    s.remove(QLatin1Char('#'));
    s = s.trimmed();
    if (s.size() != 6)
        return QColor(Qt::black);
    // Each pair is scanned like the platform's scanner: blanks skipped, then as many hex digits
    // as there are; a pair without one reads 0.
    auto scan = [&](qsizetype at) {
        int value = 0;
        qsizetype i = at;
        while (i < at + 2 && s.at(i).isSpace())
            ++i;
        for (; i < at + 2; ++i) {
            const char16_t c = s.at(i).unicode();
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0)
                break;
            value = value * 16 + digit;
        }
        return value;
    };
    return QColor(scan(0), scan(2), scan(4));
}

std::optional<ZNFFont> ZNFTextFormatter::fontFromAttributesInfo(const QVariantMap& info) {
    std::optional<double> size;
    if (info.contains(key(ZNFTextFormatterKey_fontSize)))
        size = ZNFNumberReading(info.value(key(ZNFTextFormatterKey_fontSize)));
    if (info.contains(key(ZNFTextFormatterKey_fontWeight))) {
        const QVariant weightName = info.value(key(ZNFTextFormatterKey_fontWeight));
        ZNFFontWeight weight = ZNFFontWeight::Regular;
        if (ZNFIsString(weightName)) {
            const auto& weights = keyedFontWeights();
            const auto it = weights.find(weightName.toString());
            if (it != weights.end())
                weight = it->second;
        }
        // The platform reads a zero or negative size as its default system font size.
        double points = size.value_or(18.0);
        if (points <= 0)
            points = ZNFSystemFontSize;
        return ZNFFont::systemFont(
            clampedStyleValue(ZNFTextFormatterKey_fontSize, points, 0, ZNFLargestFontSize), weight);
    }
    const QVariant name = info.value(key(ZNFTextFormatterKey_fontName));
    if (ZNFIsString(name) && size) {
        const double points = *size > 0 ? *size : 12.0;
        return ZNFFont::fontWithName(
            name.toString(), clampedStyleValue(ZNFTextFormatterKey_fontSize, points, 0, ZNFLargestFontSize));
    }
    return std::nullopt;
}

ZNFParagraphStyle ZNFTextFormatter::paragraphStyleFromInfo(const QVariantMap& info) {
    ZNFParagraphStyle style;
    // Negative spacing has no meaning to the text system; such values keep the default.
    if (auto v = ZNFNumberReading(info.value(key(ZNFTextFormatterKey_lineHeight))); v && *v >= 0)
        style.lineHeightMultiple =
            clampedStyleValue(ZNFTextFormatterKey_lineHeight, *v, 0, kMaxLineHeightMultiple);
    if (auto v = ZNFNumberReading(info.value(key(ZNFTextFormatterKey_paragraphSpacing))); v && *v >= 0)
        style.paragraphSpacing = clampedStyleValue(ZNFTextFormatterKey_paragraphSpacing, *v, 0, kMaxDistance);

    const QVariant align = info.value(key(ZNFTextFormatterKey_align));
    const QString alignName = ZNFIsString(align) ? align.toString() : QString();
    if (alignName == key(ZNFTextFormatterKey_left))
        style.alignment = ZNFTextAlignment::Left;
    else if (alignName == key(ZNFTextFormatterKey_right))
        style.alignment = ZNFTextAlignment::Right;
    else if (alignName == key(ZNFTextFormatterKey_center))
        style.alignment = ZNFTextAlignment::Center;
    else
        style.alignment = ZNFTextAlignment::Natural;

    const QVariant tabs = info.value(key(ZNFTextFormatterKey_tabs));
    if (tabs.metaType().id() == QMetaType::QVariantList) {
        style.tabStops.clear();
        const QVariantList list = tabs.toList();
        for (qsizetype i = 0; i < list.size(); ++i) {
            auto number = finiteNumber(list.at(i));
            if (!number)
                continue;
            number = clampedStyleValue(ZNFTextFormatterKey_tabs, *number, 0, kMaxDistance);
            if (i == 0) {
                // The first stop doubles as a hanging indent: wrapped lines start at it.
                style.headIndent = static_cast<float>(*number);
                style.firstLineHeadIndent = -style.headIndent;
            }
            style.tabStops.push_back(ZNFTextTab{ZNFTextAlignment::Left, std::trunc(*number)});
        }
    }
    return style;
}

std::optional<qint64> ZNFTextFormatter::underlineStyleFromInfo(const QVariantMap& info) {
    return lineStyleFromValue(info.value(key(ZNFTextFormatterKey_underline)));
}

std::optional<qint64> ZNFTextFormatter::strikethroughStyleFromInfo(const QVariantMap& info) {
    return lineStyleFromValue(info.value(key(ZNFTextFormatterKey_strikethrough)));
}

QColor ZNFTextFormatter::colorFromAttributesInfo(const QVariantMap& info) {
    if (!info.contains(key(ZNFTextFormatterKey_color)))
        return QColor(Qt::black);
    return colorFromString(info.value(key(ZNFTextFormatterKey_color)));
}

QColor ZNFTextFormatter::backgroundColorFromAttributesInfo(const QVariantMap& info) {
    const QVariant bg = info.value(key(ZNFTextFormatterKey_backgroundColor));
    if (ZNFIsString(bg) && !bg.toString().isEmpty())
        return colorFromString(bg);
    return QColor(Qt::transparent);
}

std::map<QString, qint64> ZNFTextFormatter::keyedLineStyles() {
    using namespace ZNFLineStyle;
    return {
        {QStringLiteral("none"), None},
        {QStringLiteral("single"), Single},
        {QStringLiteral("thick"), Thick},
        {QStringLiteral("double"), Double},
        {QStringLiteral("solid"), PatternSolid},
        {QStringLiteral("dot"), PatternDot},
        {QStringLiteral("dash"), PatternDash},
        {QStringLiteral("dashDot"), PatternDashDot},
        {QStringLiteral("dashDotDot"), PatternDashDotDot},
        {QStringLiteral("byWord"), ByWord},
    };
}

const std::map<QString, ZNFFontWeight>& ZNFTextFormatter::keyedFontWeights() {
    static const std::map<QString, ZNFFontWeight> weights = {
        {QStringLiteral("ultraLight"), ZNFFontWeight::UltraLight},
        {QStringLiteral("thin"), ZNFFontWeight::Thin},
        {QStringLiteral("light"), ZNFFontWeight::Light},
        {QStringLiteral("regular"), ZNFFontWeight::Regular},
        {QStringLiteral("medium"), ZNFFontWeight::Medium},
        {QStringLiteral("semibold"), ZNFFontWeight::Semibold},
        {QStringLiteral("bold"), ZNFFontWeight::Bold},
        {QStringLiteral("heavy"), ZNFFontWeight::Heavy},
        {QStringLiteral("black"), ZNFFontWeight::Black},
    };
    return weights;
}
