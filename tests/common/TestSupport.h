#pragma once

#include <QByteArray>
#include <QMutex>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// A private HOME and XDG_CACHE_HOME for one test; both are put back when it ends.
class ScopedHome {
public:
    ScopedHome();
    ~ScopedHome();
    QString home() const { return m_dir.path() + QStringLiteral("/home"); }
    QString caches() const { return m_dir.path() + QStringLiteral("/cache"); }
    QString root() const { return m_dir.path(); }
    // Puts an executable script named `name` first on PATH (in a folder of this home).
    void installTool(const QString& name, const QByteArray& script);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome, m_oldCache, m_oldPath;
    bool m_hadCache;
};

// Collects log lines while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString& text) const;

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

// Reads a zip with minizip's unzip API.
struct ZipEntry {
    QString name;
    int method = -1; // 8 = deflate
    QByteArray data;
    unsigned long externalAttributes = 0;
    int year = 0;
};
struct ZipContents {
    bool opened = false;
    std::vector<ZipEntry> entries;
    QStringList names() const; // sorted: the order of members carries no meaning

    const ZipEntry* find(const QString& name) const;
};
ZipContents readZip(const QString& path);

// Writes bytes to a file, making its folder.
bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Runs the Qt event loop until pred() holds or the timeout passes; returns pred().
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);

// A second process, for what must outlive the process that made it: the test program run again
// as "PROGRAM --child NAME ARGS...", which runs the routine registered under NAME (inside the
// program's QApplication, without any test) and exits with its result. Register at namespace
// scope: `const bool registered = registerChildRoutine("name", [](const QStringList&) { ... });`
using ChildRoutine = std::function<int(const QStringList& arguments)>;
bool registerChildRoutine(const QString& name, ChildRoutine routine);
// Runs this program as such a child with `environment`; its exit code, or -1 when it crashed or
// did not end within the timeout.
int runChild(const QString& name, const QStringList& arguments, const QProcessEnvironment& environment,
             int timeoutMs = 30000);
// For main(): the routine's result when this process was started as a child.
std::optional<int> runChildRoutineIfAsked(const QStringList& arguments);

// The resident memory high-water mark of this process (benchmarks): reset() makes it the
// memory in use now, after handing freed memory back to the system, so that a peak read
// afterwards is that of the work done in between.
namespace PeakMemory {
void reset();
long peakKiB();
long currentKiB();
} // namespace PeakMemory
