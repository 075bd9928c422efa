#include "layout/ZNFLayoutProvider.h"
#include "layout/items/ZNFImageLayoutItem.h"
#include "layout/items/ZNFRuleLayoutItem.h"
#include "layout/items/ZNFSpacerLayoutItem.h"
#include "layout/items/ZNFTableLayoutItem.h"
#include "layout/items/ZNFTextLayoutItem.h"

// The default parsers of the item kinds, registered in this order (later lookups by type do
// not depend on it, but keep it so that the registrations read like the documentation):
//   "image"  -> image parser
//   "text"   -> text parser, given this provider's textFormatter()
//   "rule"   -> rule parser, given this provider's textFormatter()
//   "table"  -> table parser
//   "spacer" -> spacer parser
// The text and rule parsers keep the formatter the provider has now; a formatter given to the
// provider later does not reach them.
void ZNFLayoutProvider::registerDefaultItemParsers() {
    registerProvider(std::make_shared<ZNFImageLayoutParser>(), QStringLiteral("image"));
    registerProvider(std::make_shared<ZNFTextLayoutParser>(textFormatter()), QStringLiteral("text"));
    registerProvider(std::make_shared<ZNFRuleLayoutParser>(textFormatter()), QStringLiteral("rule"));
    registerProvider(std::make_shared<ZNFTableLayoutItemParser>(), QStringLiteral("table"));
    registerProvider(std::make_shared<ZNFSpacerLayoutParser>(), QStringLiteral("spacer"));
}
