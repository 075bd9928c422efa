// Colour strings as layout data and styles write them: always a colour, never an error, and
// the two syntaxes agree with what the parser says about each.

#include "FuzzSupport.h"

#include "text/ZNFTextFormatter.h"

#include <QColor>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NCFuzz::environment();
    const QString string = QString::fromUtf8(NCFuzz::bytes(data, size));
    const QColor color = ZNFTextFormatter::colorFromString(string);
    FUZZ_CHECK(color.isValid(), QStringLiteral("no colour for ") + string);
    FUZZ_CHECK(color == ZNFTextFormatter::colorFromString(QVariant(string)),
               QStringLiteral("string and variant readings differ for ") + string);
    const float channels[] = {color.redF(), color.greenF(), color.blueF(), color.alphaF()};
    for (float channel : channels)
        FUZZ_CHECK(channel >= 0 && channel <= 1, QStringLiteral("channel out of range for ") + string);

    if (const auto rgba = ZNFTextFormatter::colorWithRGBAString(string)) {
        FUZZ_CHECK(string.contains("rgba"_L1), string);
        FUZZ_CHECK(rgba->isValid() && *rgba == color, QStringLiteral("rgba reading lost: ") + string);
    } else {
        const QColor hex = ZNFTextFormatter::colorWithHexString(string);
        FUZZ_CHECK(hex.isValid() && hex == color && hex.alpha() == 255,
                   QStringLiteral("hex reading lost: ") + string);
        QString digits = string;
        digits.remove(u'#');
        if (digits.trimmed().size() != 6)
            FUZZ_CHECK(color == QColor(Qt::black), QStringLiteral("not six digits but not black: ") + string);
    }
    return 0;
}
