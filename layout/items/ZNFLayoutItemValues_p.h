#pragma once

#include "platform/ZNFValueReading.h"
#include "platform/ZNFView.h"

#include <QMetaType>
#include <QRectF>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <QWidget>
#include <cmath>
#include <optional>
#include <vector>

// Readings of loosely typed layout values shared by the item parsers. Layout data arrives as
// JSON or property lists, so a number may be any of Qt's numeric types or a boolean.
namespace ZNFItemValues {

// The shared reading of platform/ZNFValueReading.h: a boolean is a number.
inline bool isNumber(const QVariant& v) {
    return ZNFIsNumber(v);
}

inline bool isString(const QVariant& v) {
    return ZNFIsString(v);
}

inline bool isMap(const QVariant& v) {
    return v.metaType().id() == QMetaType::QVariantMap;
}

inline bool isList(const QVariant& v) {
    return v.metaType().id() == QMetaType::QVariantList || v.metaType().id() == QMetaType::QStringList;
}

// A finite number from a number or a numeric string; none for anything else.
std::optional<double> number(const QVariant& v);

inline QVariantMap map(const QVariant& v) {
    return isMap(v) ? v.toMap() : QVariantMap();
}

inline QVariantList list(const QVariant& v) {
    return isList(v) ? v.toList() : QVariantList();
}

// Gives any widget a frame in its (future) parent's coordinates: a ZNFView takes it as its
// frame; a plain widget takes it as its geometry, which is only right in a flipped parent.
void setViewFrame(QWidget* view, const QRectF& frame);
QRectF viewFrame(const QWidget* view);

// Adds views to `parent` in order, each placed by its frame (plain widgets keep their
// geometry). ZNFView::addSubview re-sorts every sibling by z each time, which makes filling a
// view with n subviews cost n squared; here the sort runs once, for the last view.
void addSubviews(ZNFView* parent, const std::vector<QWidget*>& views);

} // namespace ZNFItemValues
