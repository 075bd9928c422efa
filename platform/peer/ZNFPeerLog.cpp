#include "platform/peer/ZNFPeerLog.h"

Q_LOGGING_CATEGORY(lcPeer, "notecrate.peer", QtInfoMsg)
