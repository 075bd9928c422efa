#include "layout/ZNFLayoutProvider.h"

// The default parsers of the item kinds, registered in this order (later lookups by type do
// not depend on it, but keep it so that the registrations read like the documentation):
//   "image"  -> image parser
//   "text"   -> text parser, given this provider's textFormatter()
//   "rule"   -> rule parser, given this provider's textFormatter()
//   "table"  -> table parser
//   "spacer" -> spacer parser
// Each parser registers itself here as it arrives; this file belongs to the item kinds.
void ZNFLayoutProvider::registerDefaultItemParsers() {}
