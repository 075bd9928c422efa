#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Property lists read with libplist (XML and binary). Dictionaries become QVariantMap, arrays
// QVariantList, strings QString, integers qint64 (unsigned ones above that range quint64),
// reals double, booleans bool, dates QDateTime (UTC) and data QByteArray.
// A null QVariant, with a reason in `error`, when the bytes are not a property list, or one
// larger than 8 MiB, nested deeper than 256 levels or expanding to more than a million values.
QVariant ZNFPropertyListFromData(const QByteArray& data, QString* error = nullptr);
// The same for a file; a missing or unreadable file is an error too.
QVariant ZNFPropertyListFromFile(const QString& path, QString* error = nullptr);
