#include "text/ZNFTextAttributes.h"

#include "text/ZNFTextQt.h"

#include <QFontDatabase>

namespace {

QString systemFamily() {
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QString withoutBlanks(QString s) {
    s.remove(QLatin1Char(' '));
    return s;
}

} // namespace

ZNFFont ZNFFont::systemFont(double pointSize, ZNFFontWeight weight) {
    ZNFFont f;
    f.m_system = true;
    f.m_pointSize = pointSize;
    f.m_weight = weight;
    f.m_qfont = QFont(systemFamily());
    f.m_qfont.setWeight(ZNFTextQt::fontWeight(weight));
    ZNFTextQt::setPointSize(f.m_qfont, pointSize);
    return f;
}

std::optional<ZNFFont> ZNFFont::fontWithName(const QString& name, double pointSize) {
    const QString wanted = name.trimmed();
    if (wanted.isEmpty())
        return std::nullopt;
    const QStringList families = QFontDatabase::families();
    QFont qfont;
    bool found = false;
    for (const QString& family : families) {
        if (family.compare(wanted, Qt::CaseInsensitive) == 0) {
            qfont = QFont(family);
            found = true;
            break;
        }
    }
    if (!found) {
        // PostScript-style face names: "DejaVuSans-Bold" is the "Bold" style of "DejaVu Sans".
        const qsizetype dash = wanted.lastIndexOf(QLatin1Char('-'));
        const QString familyPart = withoutBlanks(dash > 0 ? wanted.left(dash) : wanted);
        const QString stylePart = dash > 0 ? wanted.mid(dash + 1) : QString();
        for (const QString& family : families) {
            if (withoutBlanks(family).compare(familyPart, Qt::CaseInsensitive) != 0)
                continue;
            if (stylePart.isEmpty()) {
                qfont = QFont(family);
                found = true;
                break;
            }
            for (const QString& style : QFontDatabase::styles(family)) {
                if (withoutBlanks(style).compare(stylePart, Qt::CaseInsensitive) == 0) {
                    qfont = QFontDatabase::font(family, style, 12);
                    found = true;
                    break;
                }
            }
            if (found)
                break;
        }
    }
    if (!found)
        return std::nullopt;
    ZNFFont f;
    f.m_system = false;
    f.m_name = name;
    f.m_pointSize = pointSize;
    f.m_weight = ZNFFontWeight::Regular;
    f.m_qfont = qfont;
    ZNFTextQt::setPointSize(f.m_qfont, pointSize);
    return f;
}

ZNFFont ZNFFont::withPointSize(double pointSize) const {
    ZNFFont f = *this;
    f.m_pointSize = pointSize;
    ZNFTextQt::setPointSize(f.m_qfont, pointSize);
    return f;
}

const ZNFFont& ZNFTextDefaultFont() {
    // 12 points: the size the bundled styles are written against when they name none.
    static const ZNFFont font = ZNFFont::systemFont(12.0);
    return font;
}

std::vector<ZNFTextTab> ZNFParagraphStyle::defaultTabStops() {
    std::vector<ZNFTextTab> stops;
    stops.reserve(12);
    for (int i = 1; i <= 12; ++i)
        stops.push_back(ZNFTextTab{ZNFTextAlignment::Left, 28.0 * i});
    return stops;
}

ZNFTextAttributes ZNFTextAttributes::mergedWith(const ZNFTextAttributes& o) const {
    ZNFTextAttributes r = *this;
    auto take = [](auto& into, const auto& from) {
        if (from)
            into = from;
    };
    take(r.font, o.font);
    take(r.maxFontSize, o.maxFontSize);
    take(r.foregroundColor, o.foregroundColor);
    take(r.backgroundColor, o.backgroundColor);
    take(r.paragraphStyle, o.paragraphStyle);
    take(r.underlineStyle, o.underlineStyle);
    take(r.underlineColor, o.underlineColor);
    take(r.strikethroughStyle, o.strikethroughStyle);
    take(r.strikethroughColor, o.strikethroughColor);
    take(r.bg, o.bg);
    take(r.borderWidth, o.borderWidth);
    take(r.borderColor, o.borderColor);
    take(r.cornerRadius, o.cornerRadius);
    take(r.textEffect, o.textEffect);
    take(r.kern, o.kern);
    return r;
}

bool ZNFTextAttributes::isEmpty() const {
    return *this == ZNFTextAttributes{};
}
