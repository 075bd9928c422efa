#pragma once

#include <QStringView>
#include <optional>

// The named character references of HTML 4 and XHTML 1 (the sets ENML's DTD declares:
// Latin-1, symbols, special), with XML's "apos" beside them. Names are case-sensitive
// ("&Eacute;" is not "&eacute;").
namespace ZNFHTMLEntities {

// The character a name stands for, or nullopt when HTML 4 has no such name.
std::optional<char16_t> character(QStringView name);

} // namespace ZNFHTMLEntities
