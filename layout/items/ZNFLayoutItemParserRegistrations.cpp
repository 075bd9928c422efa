#include "layout/items/ZNFLayoutItemParserRegistrations.h"

#include "layout/ZNFLayoutProvider.h"
#include "layout/items/ZNFImageLayoutItem.h"
#include "layout/items/ZNFRuleLayoutItem.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"

// Registered in the order the kinds are documented; lookups by type do not depend on it.
void ZNFRegisterDefaultItemParsers(ZNFLayoutProvider& provider) {
    provider.registerProvider(std::make_shared<ZNFImageLayoutParser>(), QStringLiteral("image"));
    provider.registerProvider(std::make_shared<ZNFTextLayoutParser>(provider.textFormatter()),
                              QStringLiteral("text"));
    provider.registerProvider(std::make_shared<ZNFRuleLayoutParser>(provider.textFormatter()),
                              QStringLiteral("rule"));
    provider.registerProvider(std::make_shared<ZNFTableLayoutItemParser>(), QStringLiteral("table"));
    provider.registerProvider(std::make_shared<ZNFSpacerLayoutParser>(), QStringLiteral("spacer"));
}
