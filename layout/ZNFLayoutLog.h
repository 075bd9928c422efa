#pragma once

#include "platform/ZNFLog.h"

// The layout engine's log lines (layout/ and layout/items/): qCInfo(lcLayout()) for
// what happened, qCWarning(lcLayout()) for layout data or scripts that failed.
Q_DECLARE_LOGGING_CATEGORY(lcLayout)
