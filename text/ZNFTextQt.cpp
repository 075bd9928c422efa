#include "text/ZNFTextQt.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace ZNFTextQt {

namespace {

// The resolution Qt turns point sizes into pixels with when laying text out without a paint
// device (the same rule as Qt's own default).
double layoutDpi() {
    if (QCoreApplication::testAttribute(Qt::AA_Use96Dpi))
        return 96.0;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            return std::round(screen->logicalDotsPerInchY());
    return 100.0;
}

} // namespace

QFont::Weight fontWeight(ZNFFontWeight weight) {
    // The platform's lightest weight is Qt's lightest; each heavier one steps up by 100.
    switch (weight) {
    case ZNFFontWeight::UltraLight:
        return QFont::Thin;
    case ZNFFontWeight::Thin:
        return QFont::ExtraLight;
    case ZNFFontWeight::Light:
        return QFont::Light;
    case ZNFFontWeight::Regular:
        return QFont::Normal;
    case ZNFFontWeight::Medium:
        return QFont::Medium;
    case ZNFFontWeight::Semibold:
        return QFont::DemiBold;
    case ZNFFontWeight::Bold:
        return QFont::Bold;
    case ZNFFontWeight::Heavy:
        return QFont::ExtraBold;
    case ZNFFontWeight::Black:
        return QFont::Black;
    }
    return QFont::Normal;
}

void setPointSize(QFont& font, double points) {
    // Qt refuses sizes <= 0; such a font keeps Qt's default size rather than vanishing.
    if (points > 0 && std::isfinite(points))
        font.setPointSizeF(std::min(points, ZNFLargestFontSize) * 72.0 / layoutDpi());
}

Qt::Alignment alignment(ZNFTextAlignment alignment) {
    switch (alignment) {
    case ZNFTextAlignment::Left:
        return Qt::AlignLeft | Qt::AlignAbsolute;
    case ZNFTextAlignment::Right:
        return Qt::AlignRight | Qt::AlignAbsolute;
    case ZNFTextAlignment::Center:
        return Qt::AlignHCenter;
    case ZNFTextAlignment::Justified:
        return Qt::AlignJustify;
    case ZNFTextAlignment::Natural:
        break;
    }
    return Qt::AlignLeading; // follows the text's direction
}

QTextOption::TabType tabType(ZNFTextAlignment alignment) {
    switch (alignment) {
    case ZNFTextAlignment::Right:
        return QTextOption::RightTab;
    case ZNFTextAlignment::Center:
        return QTextOption::CenterTab;
    default:
        return QTextOption::LeftTab;
    }
}

LineKind lineKind(const std::optional<qint64>& value) {
    if (!value)
        return LineKind::None;
    switch (*value & ZNFLineStyle::StyleMask) {
    case ZNFLineStyle::None:
        return LineKind::None;
    case ZNFLineStyle::Thick:
        return LineKind::Thick;
    case ZNFLineStyle::Double:
        return LineKind::Double;
    default:
        return LineKind::Single;
    }
}

Qt::PenStyle penStyle(qint64 value) {
    switch (value & ZNFLineStyle::PatternMask) {
    case ZNFLineStyle::PatternDot:
        return Qt::DotLine;
    case ZNFLineStyle::PatternDash:
        return Qt::DashLine;
    case ZNFLineStyle::PatternDashDot:
        return Qt::DashDotLine;
    case ZNFLineStyle::PatternDashDotDot:
        return Qt::DashDotDotLine;
    default:
        return Qt::SolidLine;
    }
}

const QFont& font(const ZNFTextAttributes& attributes) {
    return attributes.font ? attributes.font->qfont() : ZNFTextDefaultFont().qfont();
}

QFont geometryFont(const ZNFTextAttributes& attributes) {
    QFont f = font(attributes);
    if (attributes.kern && *attributes.kern != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, *attributes.kern);
    return f;
}

} // namespace ZNFTextQt
