#pragma once

#include "platform/ZNFLog.h"

// The application's log lines: ZNFLogf(lcApp(), ...) for what happened, ZNFWarnf(lcApp(), ...)
// for what the user asked for and did not get.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
