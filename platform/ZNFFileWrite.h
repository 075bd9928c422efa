#pragma once

#include <QString>

// The one way this program puts a file in place: the bytes are written whole under a
// temporary name in the target's folder, then renamed to the target in one step. A reader
// never sees half a file, and a failure at any point leaves what was at the target as it was.
namespace ZNFFileWrite {

enum class Existing {
    Replace, // an existing file gives way only once the new one is complete
    Keep,    // an existing file is never replaced: the move fails instead
};

// Renames the finished file `written` to `target`. On failure `written` stays for the caller
// to remove, and `error` (when given) says why.
bool moveIntoPlace(const QString& written, const QString& target, Existing existing,
                   QString* error = nullptr);

// Copies `source` beside `target` under a temporary name, then moves it into place over any
// file already there. The temporary copy never outlives a failure.
bool copyIntoPlace(const QString& source, const QString& target, QString* error = nullptr);

} // namespace ZNFFileWrite
