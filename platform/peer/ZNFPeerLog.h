#pragma once

#include "platform/ZNFLog.h"

// The peer layer's log lines, shared by the multipeer controller and the send and receive
// commands that drive it: qCInfo(lcPeer()) for what happened, qCWarning(lcPeer())
// for a link, transfer or identity that failed.
Q_DECLARE_LOGGING_CATEGORY(lcPeer)
