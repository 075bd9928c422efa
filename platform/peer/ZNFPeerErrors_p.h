#pragma once

#include "platform/peer/ZNFPeerError.h"

// The errors a session's parts report in more than one place.
namespace ZNFPeerErrors {
inline ZNFPeerError lost(const QString& why) {
    return ZNFPeerError(ZNFPeerError::ConnectionLost, why);
}
inline ZNFPeerError protocolError(const QString& why) {
    return ZNFPeerError(ZNFPeerError::ProtocolError, why);
}
// The receiving side cancelled the progress object it was handed: the sender hears it as a
// failure, so nothing counts as delivered that the receiver did not keep.
inline ZNFPeerError receiverCancelled() {
    return ZNFPeerError(ZNFPeerError::Cancelled, QStringLiteral("the receiver cancelled the transfer"));
}
} // namespace ZNFPeerErrors
