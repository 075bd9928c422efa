#pragma once

#include "platform/ZNFDate.h"

#include <QJsonValue>

// Dates in the archive are milliseconds since 1970 as a double, fraction kept.
double epochRepresentation(const ZNFDate& date);
ZNFDate dateWithEpochRepresentation(double epoch);

// The JSON number for an epoch: integral values are written without a fraction.
QJsonValue epochJSONValue(double epoch);
