#include "TestSupport.h"

#include <algorithm>
#include <malloc.h>

#include "platform/ZNFLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <unzip.h>

ScopedHome::ScopedHome() {
    m_oldHome = qgetenv("HOME");
    m_hadCache = qEnvironmentVariableIsSet("XDG_CACHE_HOME");
    m_oldCache = qgetenv("XDG_CACHE_HOME");
    m_oldPath = qgetenv("PATH");
    QDir().mkpath(home());
    QDir().mkpath(caches());
    qputenv("HOME", home().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", caches().toLocal8Bit());
}

ScopedHome::~ScopedHome() {
    qputenv("HOME", m_oldHome);
    if (m_hadCache)
        qputenv("XDG_CACHE_HOME", m_oldCache);
    else
        qunsetenv("XDG_CACHE_HOME");
    qputenv("PATH", m_oldPath);
}

void ScopedHome::installTool(const QString& name, const QByteArray& script) {
    const QString bin = m_dir.path() + QStringLiteral("/bin");
    QDir().mkpath(bin);
    const QString path = bin + u'/' + name;
    writeFile(path, script);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    qputenv("PATH", bin.toLocal8Bit() + ":" + m_oldPath);
}

LogCapture::LogCapture() {
    ZNFSetLogSink([this](const QString& line) {
        QMutexLocker lock(&m_mutex);
        m_lines << line;
    });
}
LogCapture::~LogCapture() {
    ZNFSetLogSink({});
}
QStringList LogCapture::lines() const {
    QMutexLocker lock(&m_mutex);
    return m_lines;
}
bool LogCapture::contains(const QString& text) const {
    return !lines().filter(text).isEmpty();
}

QStringList ZipContents::names() const {
    QStringList out;
    for (const auto& e : entries)
        out << e.name;
    out.sort();
    return out;
}

const ZipEntry* ZipContents::find(const QString& name) const {
    const auto found = std::ranges::find(entries, name, &ZipEntry::name);
    return found == entries.end() ? nullptr : &*found;
}

ZipContents readZip(const QString& path) {
    ZipContents out;
    unzFile zf = unzOpen64(QFile::encodeName(path).constData());
    if (!zf)
        return out;
    out.opened = true;
    for (int rc = unzGoToFirstFile(zf); rc == UNZ_OK; rc = unzGoToNextFile(zf)) {
        unz_file_info64 info;
        char name[1024];
        if (unzGetCurrentFileInfo64(zf, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        ZipEntry e;
        e.name = QString::fromUtf8(name);
        e.method = static_cast<int>(info.compression_method);
        e.externalAttributes = info.external_fa;
        e.year = static_cast<int>(info.tmu_date.tm_year);
        if (unzOpenCurrentFile(zf) == UNZ_OK) {
            char buf[65536];
            int n;
            while ((n = unzReadCurrentFile(zf, buf, sizeof buf)) > 0)
                e.data.append(buf, n);
            unzCloseCurrentFile(zf);
        }
        out.entries.push_back(std::move(e));
    }
    unzClose(zf);
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

namespace {
std::map<QString, ChildRoutine>& childRoutines() {
    static std::map<QString, ChildRoutine> routines;
    return routines;
}
} // namespace

bool registerChildRoutine(const QString& name, ChildRoutine routine) {
    childRoutines()[name] = std::move(routine);
    return true;
}

int runChild(const QString& name, const QStringList& arguments, const QProcessEnvironment& environment,
             int timeoutMs) {
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                QStringList{QStringLiteral("--child"), name} + arguments);
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished();
        return -1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

std::optional<int> runChildRoutineIfAsked(const QStringList& arguments) {
    if (arguments.size() < 3 || arguments.at(1) != QLatin1String("--child"))
        return std::nullopt;
    const auto found = childRoutines().find(arguments.at(2));
    if (found == childRoutines().end())
        return 2;
    return found->second(arguments.mid(3));
}

namespace PeakMemory {

namespace {
long statusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').first().toLong();
    return 0;
}
} // namespace

void reset() {
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

long peakKiB() {
    return statusKiB("VmHWM:");
}

long currentKiB() {
    return statusKiB("VmRSS:");
}

} // namespace PeakMemory
