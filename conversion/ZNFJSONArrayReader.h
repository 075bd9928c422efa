#pragma once

#include <QIODevice>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>

// What one element of a streamed array may hold. An element past the byte limit is skipped
// with a log line; nesting past the depth limit fails the whole read.
inline constexpr qint64 ZNFJSONArrayReader_maxElementBytes = 256LL * 1024 * 1024;
inline constexpr int ZNFJSONArrayReader_maxDepth = 256;

struct ZNFJSONArrayLimits {
    qint64 elementBytes = ZNFJSONArrayReader_maxElementBytes;
    int depth = ZNFJSONArrayReader_maxDepth;
    // Told the index of each element left out for its size, so that a reader can say so.
    std::function<void(qint64 index)> elementTooLarge = {};
};

// Reads a JSON array one element at a time, so that only the element being read is in memory
// however long the array is: each element is cut out of the text and parsed by Qt's JSON
// parser on its own; what lies between elements is checked here. Accepts what parsing the
// whole text at once accepts.
namespace ZNFJSONArrayReader {

// `member`: the streamed member's string, when the element is an object that has it (its value
// in `element` is then ""), else nullopt. Returns false to stop reading.
using Take = std::function<bool(QJsonValue element, std::optional<QString> member)>;

// Calls `take` with each element of the array `device` holds (read from its current position
// to its end), in order, and stops early when `take` returns false. False, with the reason in
// `error`, when the text is not one JSON array; `take` may have been called for the elements
// before the fault. `streamedMember` names a member of object elements (written without
// escapes in its key) whose string is decoded slice by slice and handed over apart, so that a
// long one is never held twice. `closing`, when given, is the one character (and blanks) that
// may follow the array: the array is then a member's value, the rest of its object before it.
bool read(QIODevice& device, const Take& take, QString* error = nullptr,
          const ZNFJSONArrayLimits& limits = {}, const QByteArray& streamedMember = {}, char closing = 0);

} // namespace ZNFJSONArrayReader
