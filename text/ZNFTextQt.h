#pragma once

#include "text/ZNFTextAttributes.h"

#include <QFont>
#include <QTextOption>
#include <Qt>
#include <optional>

// The one place where the platform's text names and integers become Qt's: font weights and
// sizes, alignments, tab stops, line styles and patterns. Drawing and layout read only these.
namespace ZNFTextQt {

QFont::Weight fontWeight(ZNFFontWeight weight);
// Sets a size in platform points, where one point is one logical pixel.
void setPointSize(QFont& font, double points);
Qt::Alignment alignment(ZNFTextAlignment alignment);
QTextOption::TabType tabType(ZNFTextAlignment alignment);

// What an underline or strikethrough value draws: the line (none for a pattern or "by word"
// without a line style), Qt's closest pen pattern, and whether only words are lined.
enum class LineKind { None, Single, Thick, Double };
LineKind lineKind(const std::optional<qint64>& value);
Qt::PenStyle penStyle(qint64 value);
inline bool byWord(qint64 value) {
    return (value & ZNFLineStyle::ByWord) != 0;
}

// The Qt font of a run (the text system's default where it has none), and that font with the
// run's kerning, which is what decides its geometry.
const QFont& font(const ZNFTextAttributes& attributes);
QFont geometryFont(const ZNFTextAttributes& attributes);

} // namespace ZNFTextQt
