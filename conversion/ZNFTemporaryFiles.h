#pragma once

#include <QString>
#include <QStringList>

// What a conversion leaves in the caches folder while it runs (a partial archive, a copy of the
// Notes store) holds the user's notes. Every such path is marked as this program's own: its
// name carries a fixed prefix or suffix and the id of the process that made it, and a folder
// also holds a marker file. The next run removes the marked leftovers of processes that are
// gone, and nothing else; SIGINT and SIGTERM remove the current run's before the process ends.
inline constexpr QLatin1StringView ZNFTemporaryFiles_folderPrefix{"notecrate-temporary-"};
inline constexpr QLatin1StringView ZNFTemporaryFiles_partialInfix{".partial-"};
inline constexpr QLatin1StringView ZNFTemporaryFiles_markerFileName{".notecrate-temporary"};
// Paths the signal handler can hold at once, and the files it removes from one folder.
inline constexpr int ZNFTemporaryFiles_maxGuarded = 16;
inline constexpr int ZNFTemporaryFiles_maxFolderFiles = 8;

namespace ZNFTemporaryFiles {

// "<finalPath>.partial-<pid>-<UUID>": where a file is written before it is renamed into place.
QString partialPathFor(const QString& finalPath);

// Makes "<caches>/notecrate-temporary-<pid>-<UUID>" with its marker file; empty on failure.
QString createFolder();

// Removes the marked leftovers in the caches folder of processes that no longer run.
// Returns how many it removed.
int removeLeftovers();

// While alive, a SIGINT or SIGTERM removes `path` (a file, or a folder holding at most the
// listed file names besides its marker) before the process ends. The first guard installs the
// handlers. Destroying the guard only stops watching; the owner removes or keeps the path.
class Guard {
public:
    explicit Guard(const QString& path, const QStringList& folderFiles = {});
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    int m_slot = -1;
};

} // namespace ZNFTemporaryFiles
