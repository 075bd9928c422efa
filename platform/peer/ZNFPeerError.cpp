#include "platform/peer/ZNFPeerError.h"

QString ZNFPeerError::description() const {
    if (isNull())
        return QStringLiteral("(null)");
    return QStringLiteral("Error %1: %2").arg(int(m_code)).arg(m_message);
}
