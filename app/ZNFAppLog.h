#pragma once

#include "platform/ZNFLog.h"

// The application's log lines: qCInfo(lcApp()) for what happened, qCWarning(lcApp())
// for what the user asked for and did not get.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
