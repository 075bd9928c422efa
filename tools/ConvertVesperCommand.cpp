#include "tools/ZNFCommandLine.h"

int ZNFRunConvertVesper(const QStringList&) {
    return ZNFCommandOutput::fail(QStringLiteral("convert vesper is not available yet"));
}
