#pragma once

#include <QString>

// The folders the system names. The caches folder is XDG_CACHE_HOME (or ~/.cache) on
// Linux and ~/Library/Caches on macOS; it is not created here.
namespace ZNFPaths {
QString homeDirectory();
QString cachesDirectory();
// iCloud Drive's local folder on macOS, where the phone app imports from.
QString iCloudDriveDirectory();
// "~/..." with the home folder put in.
QString expandTilde(const QString& path);
// A new upper-case UUID string in 8-4-4-4-12 groups.
QString newUUIDString();
} // namespace ZNFPaths
