// A style table as the style resource holds it: property-list bytes (XML or binary) read with
// libplist, registered in a formatter and used to measure a little text with every style.

#include "FuzzSupport.h"

#include "text/ZNFLabel.h"
#include "text/ZNFPropertyList.h"
#include "text/ZNFTextFormatter.h"

#include <cmath>

namespace {

bool finite(const ZNFEdgeInsets& insets) {
    return std::isfinite(insets.top) && std::isfinite(insets.left) && std::isfinite(insets.bottom) &&
           std::isfinite(insets.right);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NCFuzz::environment();
    QString error;
    const QVariant root = ZNFPropertyListFromData(NCFuzz::bytes(data, size), &error);
    FUZZ_CHECK(root.isValid() || !error.isEmpty(), QStringLiteral("a failed read without a reason"));
    const QVariant formats = root.toMap().value(ZNFTextFormatterKey_formats);
    if (formats.metaType().id() != QMetaType::QVariantMap)
        return 0;
    const QVariantMap table = formats.toMap();

    ZNFTextFormatter formatter;
    formatter.registerKeyedAttributes(table);
    // Registering twice changes nothing: templates resolve only against the table itself.
    ZNFTextFormatter twice;
    twice.registerKeyedAttributes(table);
    twice.registerKeyedAttributes(table);

    int measured = 0;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        const QString& name = it.key();
        const ZNFTextAttributesPtr attributes = formatter.attributesForKey(name);
        FUZZ_CHECK(attributes, QStringLiteral("no attributes for ") + name);
        FUZZ_CHECK(formatter.hasStyle(name), QStringLiteral("style not registered: ") + name);
        FUZZ_CHECK(*attributes == *twice.attributesForKey(name),
                   QStringLiteral("registering again changed ") + name);
        FUZZ_CHECK(formatter.colorForKey(name).isValid() && formatter.backgroundColorForKey(name).isValid(),
                   name);
        const ZNFEdgeInsets insets = formatter.insetsForKey(name);
        FUZZ_CHECK(finite(insets), QStringLiteral("insets that are not numbers for ") + name);
        if (attributes->font)
            FUZZ_CHECK(std::isfinite(attributes->font->pointSize()), name);
        if (attributes->paragraphStyle) {
            const QVariant tabs = it.value().toMap().value(ZNFTextFormatterKey_tabs);
            if (tabs.metaType().id() == QMetaType::QVariantList)
                FUZZ_CHECK(attributes->paragraphStyle->tabStops.size() <= size_t(tabs.toList().size()),
                           QStringLiteral("more tab stops than tabs in ") + name);
        }
        // Measuring is what every screen does with a style; keep it to a few per input.
        if (measured++ < 4) {
            const ZNFAttributedString text(QStringLiteral("Notecrate\tmoves notes\nto the phone"),
                                           attributes);
            const QSizeF fitted = ZNFLabel::sizeWithWidth(320, text, insets, false);
            FUZZ_CHECK(!std::isnan(fitted.width()) && !std::isnan(fitted.height()),
                       QStringLiteral("measured NaN with ") + name);
        }
    }
    FUZZ_CHECK(!formatter.hasStyle(QStringLiteral("\x01not a style")) ||
                   table.contains(QStringLiteral("\x01not a style")),
               QStringLiteral("an unregistered name resolved"));
    FUZZ_CHECK(formatter.backgroundColorForKey(QStringLiteral("\x01not a style")) == QColor(Qt::white) ||
                   table.contains(QStringLiteral("\x01not a style")),
               QStringLiteral("unregistered background is not white"));
    return 0;
}
