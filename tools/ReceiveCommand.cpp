#include "tools/ZNFCommandLine.h"

int ZNFRunReceive(const QStringList&) {
    return ZNFCommandOutput::fail(QStringLiteral("receive is not available yet"));
}
