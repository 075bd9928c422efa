#include "platform/ZNFValueReading.h"

#include "platform/ZNFLog.h"
#include "platform/ZNFNumberFormat.h"

#include <QMetaType>
#include <charconv>
#include <cmath>

bool ZNFIsNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

bool ZNFIsString(const QVariant& value) {
    return value.typeId() == QMetaType::QString;
}

double ZNFDoubleReading(const QString& text) {
    const QByteArray latin = text.trimmed().toLatin1();
    const char* begin = latin.constData();
    const char* end = begin + latin.size();
    bool negative = false;
    if (begin < end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    // Only plain decimal forms: from_chars would also take "inf", "nan" and hexadecimal.
    if (begin == end || !(std::isdigit(static_cast<unsigned char>(*begin)) || *begin == '.'))
        return 0;
    double value = 0;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(value))
        return 0;
    return negative ? -value : value;
}

bool ZNFBoolReading(const QVariant& value) {
    if (ZNFIsNumber(value))
        return value.toDouble() != 0;
    if (!ZNFIsString(value))
        return false;
    const QString s = value.toString();
    qsizetype i = 0;
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        ++i;
    while (i < s.size() && s.at(i) == u'0')
        ++i;
    if (i >= s.size())
        return false;
    const QChar c = s.at(i);
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

std::optional<double> ZNFNumberReading(const QVariant& value) {
    double d = 0;
    if (ZNFIsNumber(value))
        d = value.toDouble();
    else if (ZNFIsString(value))
        d = ZNFDoubleReading(value.toString());
    else
        return std::nullopt;
    if (!std::isfinite(d))
        return std::nullopt;
    // Read values end in float and int geometry, where 1e300 or 1e39 do not fit: they are held
    // to a range no screen reaches.
    if (std::abs(d) > ZNFLargestNumberReading) {
        const double held = std::copysign(ZNFLargestNumberReading, d);
        qCWarning(lcPlatform()).noquote() << QStringLiteral("Number %1 is out of range; %2 is used")
                                                 .arg(ZNFShortestNumber(d), ZNFShortestNumber(held));
        return held;
    }
    return d;
}
