#include "text/ZNFTextLog.h"

Q_LOGGING_CATEGORY(lcText, "notecrate.text", QtInfoMsg)
