#include "conversion/ZNFTemporaryFiles.h"

#include "conversion/ZNFConversionLog.h"
#include "platform/ZNFPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZNFTemporaryFiles {

namespace {

constexpr size_t kPathBytes = 4096;

// One watched path, as bytes the signal handler can use without allocating. `state` is 0 when
// free, 1 while being filled or emptied, 2 when the handler may use it.
struct Slot {
    std::atomic<int> state{0};
    char path[kPathBytes];
    char files[ZNFTemporaryFiles_maxFolderFiles + 1][kPathBytes];
    int fileCount = 0;
};
Slot gGuarded[ZNFTemporaryFiles_maxGuarded];
struct sigaction previousInt, previousTerm;

void removeGuarded() {
    for (Slot& slot : gGuarded) {
        if (slot.state.load(std::memory_order_acquire) != 2)
            continue;
        for (int i = 0; i < slot.fileCount; ++i)
            ::unlink(slot.files[i]);
        if (::unlink(slot.path) != 0)
            ::rmdir(slot.path);
    }
}

// Only async-signal-safe calls: unlink, rmdir, sigaction, raise.
void onSignal(int signal) {
    removeGuarded();
    const struct sigaction& previous = signal == SIGINT ? previousInt : previousTerm;
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
        !(previous.sa_flags & SA_SIGINFO)) {
        previous.sa_handler(signal);
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previousInt);
        ::sigaction(SIGTERM, &action, &previousTerm);
        // A process that ignored the signal keeps ignoring it.
        if (previousInt.sa_handler == SIG_IGN)
            ::sigaction(SIGINT, &previousInt, nullptr);
        if (previousTerm.sa_handler == SIG_IGN)
            ::sigaction(SIGTERM, &previousTerm, nullptr);
    });
}

bool copyPath(char* to, const QByteArray& from) {
    if (size_t(from.size()) >= kPathBytes)
        return false;
    std::memcpy(to, from.constData(), size_t(from.size()) + 1);
    return true;
}

bool processIsGone(qint64 pid) {
    if (pid <= 0 || pid == ::getpid())
        return false;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

const QString kUUID = QStringLiteral("[0-9A-F]{8}(?:-[0-9A-F]{4}){3}-[0-9A-F]{12}");

} // namespace

QString partialPathFor(const QString& finalPath) {
    return finalPath + ZNFTemporaryFiles_partialInfix + QString::number(::getpid()) + u'-' +
           ZNFPaths::newUUIDString();
}

QString createFolder() {
    const QString caches = ZNFPaths::cachesDirectory();
    const QString folder = QDir(caches).filePath(
        ZNFTemporaryFiles_folderPrefix + QString::number(::getpid()) + u'-' + ZNFPaths::newUUIDString());
    if (!QDir().mkpath(folder))
        return {};
    // It holds a copy of a person's notes: the owner's alone.
    ::chmod(QFile::encodeName(caches).constData(), 0700);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    QFile marker(QDir(folder).filePath(ZNFTemporaryFiles_markerFileName));
    if (!marker.open(QIODevice::WriteOnly)) {
        QDir().rmdir(folder);
        return {};
    }
    return folder;
}

int removeLeftovers() {
    static const QRegularExpression folderName(
        QStringLiteral("^%1(\\d+)-%2$")
            .arg(QRegularExpression::escape(ZNFTemporaryFiles_folderPrefix), kUUID));
    static const QRegularExpression partialName(
        QStringLiteral("^.+\\.notebackup%1(\\d+)-%2$")
            .arg(QRegularExpression::escape(ZNFTemporaryFiles_partialInfix), kUUID));
    const QDir caches(ZNFPaths::cachesDirectory());
    int removed = 0;
    for (const QFileInfo& entry :
         caches.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isSymLink())
            continue;
        const QString name = entry.fileName();
        if (const auto match = partialName.match(name); match.hasMatch() && entry.isFile()) {
            if (processIsGone(match.captured(1).toLongLong()) && QFile::remove(entry.filePath())) {
                qCInfo(lcConversion()).noquote()
                    << QStringLiteral("Removed the partial archive %1 of an interrupted run")
                           .arg(entry.filePath());
                ++removed;
            }
        } else if (const auto match = folderName.match(name); match.hasMatch() && entry.isDir()) {
            const bool marked =
                QFileInfo(QDir(entry.filePath()).filePath(ZNFTemporaryFiles_markerFileName)).isFile();
            if (marked && processIsGone(match.captured(1).toLongLong()) &&
                QDir(entry.filePath()).removeRecursively()) {
                qCInfo(lcConversion()).noquote()
                    << QStringLiteral("Removed the temporary folder %1 of an interrupted run")
                           .arg(entry.filePath());
                ++removed;
            }
        }
    }
    return removed;
}

Guard::Guard(const QString& path, const QStringList& folderFiles) {
    installHandlers();
    for (int i = 0; i < ZNFTemporaryFiles_maxGuarded; ++i) {
        int expected = 0;
        if (!gGuarded[i].state.compare_exchange_strong(expected, 1))
            continue;
        Slot& slot = gGuarded[i];
        bool ok = copyPath(slot.path, QFile::encodeName(path));
        QStringList files = folderFiles;
        if (!folderFiles.isEmpty() || QFileInfo(path).isDir())
            files << ZNFTemporaryFiles_markerFileName;
        slot.fileCount = 0;
        for (const QString& file : files) {
            if (slot.fileCount >= ZNFTemporaryFiles_maxFolderFiles + 1)
                break;
            ok = ok && copyPath(slot.files[slot.fileCount++], QFile::encodeName(QDir(path).filePath(file)));
        }
        if (!ok) {
            slot.state.store(0, std::memory_order_release);
            break;
        }
        slot.state.store(2, std::memory_order_release);
        m_slot = i;
        return;
    }
    qCWarning(lcConversion()).noquote()
        << QStringLiteral("Temporary files: cannot watch %1, an interruption would leave it for the next run")
               .arg(path);
}

Guard::~Guard() {
    if (m_slot >= 0)
        gGuarded[m_slot].state.store(0, std::memory_order_release);
}

} // namespace ZNFTemporaryFiles
