#pragma once

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
// JSON or property lists, so a number may be any of Qt's numeric types.
namespace ZNFItemValues {

inline bool isNumber(const QVariant& v) {
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

inline bool isString(const QVariant& v) {
    return v.metaType().id() == QMetaType::QString;
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
