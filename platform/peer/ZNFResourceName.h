#pragma once

#include <QString>

// Whether a resource name may become a file name as it stands. The peer layer refuses
// incoming resources whose names fail this, and whoever stores a resource under its name
// checks with the same rules, so both always agree.
namespace ZNFResourceName {
// Longest name accepted, in UTF-8 bytes: what file systems allow for one path component.
constexpr int kMaxBytes = 255;

// Why `name` cannot be a file name, or "" when it can. Refused: empty, ".", "..", a path
// separator ("/" or "\"), any control character (NUL, escape sequences...), the bidi
// overrides and isolates that make a name read differently than it is stored (U+202A to
// U+202E, U+2066 to U+2069), a leading "." (hidden files), more than kMaxBytes.
QString problem(const QString& name);

// The name as a log line or message may show it: control and bidi characters as \u escapes,
// cut to `maxCharacters`.
QString printable(const QString& name, int maxCharacters = 80);
} // namespace ZNFResourceName
