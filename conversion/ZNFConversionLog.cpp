#include "conversion/ZNFConversionLog.h"

Q_LOGGING_CATEGORY(lcConversion, "notecrate.conversion", QtInfoMsg)
