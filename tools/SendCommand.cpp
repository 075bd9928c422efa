#include "tools/ZNFCommandLine.h"

int ZNFRunSend(const QStringList&) {
    return ZNFCommandOutput::fail(QStringLiteral("send is not available yet"));
}
