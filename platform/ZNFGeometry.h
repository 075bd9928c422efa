#pragma once

#include <QRectF>

// Insets in points, in the order top, left, bottom, right.
struct ZNFEdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    friend bool operator==(const ZNFEdgeInsets&, const ZNFEdgeInsets&) = default;
};

inline constexpr ZNFEdgeInsets ZNFEdgeInsetsZero{};

// Shrinks a rectangle by insets: origin (x + left, y + top), size reduced by both sides.
inline QRectF UIEdgeInsetsInsetRect(const QRectF& rect, const ZNFEdgeInsets& insets) {
    return QRectF(rect.x() + insets.left, rect.y() + insets.top, rect.width() - insets.left - insets.right,
                  rect.height() - insets.top - insets.bottom);
}
