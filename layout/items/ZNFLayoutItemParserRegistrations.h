#pragma once

class ZNFLayoutProvider;

// Registers the parsers of the item kinds in this folder with `provider`: "image", "text",
// "rule", "table" and "spacer". The provider itself knows only the parsing protocol, so whoever
// builds a provider that should read layout data (the screens, the tests, the fuzz targets)
// calls this once after making it. The text and rule parsers keep the formatter the provider has
// now; a formatter given to the provider later does not reach them.
void ZNFRegisterDefaultItemParsers(ZNFLayoutProvider& provider);
