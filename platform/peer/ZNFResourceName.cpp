#include "platform/peer/ZNFResourceName.h"

#include <QList>

namespace {
bool isBidiControl(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}
} // namespace

QString ZNFResourceName::problem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("it is empty");
    if (name == u"." || name == u"..")
        return QStringLiteral("it names a folder");
    if (name.toUtf8().size() > kMaxBytes)
        return QStringLiteral("it is longer than %1 bytes").arg(kMaxBytes);
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("it contains a path separator");
    for (const char32_t c : name.toUcs4()) {
        if (QChar::category(c) == QChar::Other_Control)
            return QStringLiteral("it contains a control character");
        if (isBidiControl(c))
            return QStringLiteral("it contains a character that changes the text direction");
    }
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("it starts with \".\" (a hidden file)");
    return {};
}

QString ZNFResourceName::printable(const QString& name, int maxCharacters) {
    QString shown;
    for (const char32_t c : name.toUcs4()) {
        if (shown.size() >= maxCharacters) {
            shown += QStringLiteral("...");
            break;
        }
        if (QChar::category(c) == QChar::Other_Control || isBidiControl(c))
            shown += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            shown += QString::fromUcs4(&c, 1);
    }
    return shown;
}
