#include "app/ZNFAppLog.h"

Q_LOGGING_CATEGORY(lcApp, "notecrate.app", QtInfoMsg)
