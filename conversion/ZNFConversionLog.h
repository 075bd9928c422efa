#pragma once

#include "platform/ZNFLog.h"

// The conversion library's log lines: qCInfo(lcConversion()) for what happened,
// qCWarning(lcConversion()) for what failed or was left out.
Q_DECLARE_LOGGING_CATEGORY(lcConversion)
