#include "layout/ZNFLayoutLog.h"

Q_LOGGING_CATEGORY(lcLayout, "notecrate.layout", QtInfoMsg)
