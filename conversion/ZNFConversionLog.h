#pragma once

#include "platform/ZNFLog.h"

// The conversion library's log lines: ZNFLogf(lcConversion(), ...) for what happened,
// ZNFWarnf(lcConversion(), ...) for what failed or was left out.
Q_DECLARE_LOGGING_CATEGORY(lcConversion)
