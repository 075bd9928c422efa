#pragma once

#include "platform/ZNFLog.h"

// The text library's log lines: ZNFLogf(lcText(), ...) for what happened,
// ZNFWarnf(lcText(), ...) for bad style data that was corrected or left out.
Q_DECLARE_LOGGING_CATEGORY(lcText)
