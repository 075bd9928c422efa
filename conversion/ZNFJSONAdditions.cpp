#include "conversion/ZNFJSONAdditions.h"

#include <cmath>

double epochRepresentation(const ZNFDate& date) {
    return date.secondsSince1970 * 1000.0;
}

ZNFDate dateWithEpochRepresentation(double epoch) {
    return {epoch / 1000.0};
}

QJsonValue epochJSONValue(double epoch) {
    if (std::isfinite(epoch) && std::trunc(epoch) == epoch && std::fabs(epoch) < 9007199254740992.0)
        return QJsonValue(static_cast<qint64>(epoch));
    return QJsonValue(epoch);
}
