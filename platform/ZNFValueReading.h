#pragma once

#include <QString>
#include <QVariant>
#include <optional>

// The one reading of loosely typed values (layout data, styles, settings, predicates), which
// arrive from JSON, property lists and scripts as whatever QVariant type the reader chose.
//
// The decision: a boolean is a number. JSON, property lists and the script bridge all hand a
// number and a boolean over as one kind of value, and the layout data relies on it ("0 or
// false" both mean an unset setting), so true reads as 1 and false as 0 wherever a number is
// asked for. A numeric string is a string, not a number: only the *Reading functions below
// read numbers out of text.

// Any of Qt's integer or floating-point types, or a boolean.
bool ZNFIsNumber(const QVariant& value);
bool ZNFIsString(const QVariant& value);

// A string's number is its longest leading decimal (blanks skipped, then an optional sign);
// 0 when there is none, and for "inf", "nan", hexadecimal or an out-of-range value.
double ZNFDoubleReading(const QString& text);
// Numbers are true when not 0; a string is true when it starts with Y, y, T, t or a digit 1-9
// (after blanks, a sign and zeros); anything else is false.
bool ZNFBoolReading(const QVariant& value);
// The largest magnitude a reading gives; beyond it a number is held to it, with a log line.
inline constexpr double ZNFLargestNumberReading = 1e6;
// A number, or a string read by ZNFDoubleReading; none for other values and for NaN or infinity.
std::optional<double> ZNFNumberReading(const QVariant& value);
