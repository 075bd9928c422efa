#pragma once

#include <QDateTime>

// The platform's date: seconds since 1970-01-01 00:00:00 UTC as a double, so that
// fractions finer than a millisecond survive (QDateTime stops at milliseconds).
struct ZNFDate {
    double secondsSince1970 = 0;

    static ZNFDate now() { return fromDateTime(QDateTime::currentDateTimeUtc()); }
    static ZNFDate fromDateTime(const QDateTime& dt) { return {dt.toMSecsSinceEpoch() / 1000.0}; }
    QDateTime toDateTime() const {
        return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(secondsSince1970 * 1000.0), Qt::UTC);
    }
    friend bool operator==(const ZNFDate&, const ZNFDate&) = default;
};
