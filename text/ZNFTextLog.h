#pragma once

#include "platform/ZNFLog.h"

// The text library's log lines: qCInfo(lcText()) for what happened,
// qCWarning(lcText()) for bad style data that was corrected or left out.
Q_DECLARE_LOGGING_CATEGORY(lcText)
