#include "platform/ZNFNumberFormat.h"

#include <charconv>
#include <cmath>

QString ZNFShortestNumber(double value) {
    if (!std::isfinite(value))
        return QStringLiteral("0");
    if (value == 0)
        return QStringLiteral("0"); // also folds -0
    char buffer[64];
    // Integral values up to 2^53 print as plain integers, never in exponent form.
    if (std::fabs(value) < 9007199254740992.0 && std::trunc(value) == value) {
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(value));
        return QString::fromLatin1(buffer, end - buffer);
    }
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general);
    if (ec != std::errc())
        return QStringLiteral("0");
    return QString::fromLatin1(buffer, end - buffer);
}
