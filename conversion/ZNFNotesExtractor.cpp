#include "conversion/ZNFNotesExtractor.h"

#include "conversion/ZNFConversionLog.h"
#include "conversion/ZNFNotesAppImporter.h"
#include "platform/ZNFBundle.h"
#include "platform/ZNFPaths.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThreadPool>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>
#endif

QString ZNFNotesExtractor::exportFilePath() {
    return ZNFPaths::expandTilde(ZNFNotesExtractor_exportFile);
}

QString ZNFNotesExtractor::scriptPath() {
    const QString bundlePath =
        ZNFBundle::mainBundle().pathForResource(ZNFNotesExtractor_bundleName, QStringLiteral("bundle"));
    return ZNFBundle::bundleWithPath(bundlePath)
        .pathForResource(ZNFNotesExtractor_scriptName, ZNFNotesExtractor_scriptType);
}

ZNFNotesExport ZNFNotesExtractor::takeExport(QString& error) {
    error.clear();
    const QString path = exportFilePath();
    auto file = std::make_shared<QFile>(path);
    const bool opened = QFileInfo(path).isFile() && file->open(QIODevice::ReadOnly);
    // The name goes whatever the file holds; an open file stays readable without it.
    if (QFileInfo::exists(path) && !QFile::remove(path))
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes extractor: could not remove the export %1").arg(path);
    if (!opened)
        return nullptr;
    if (file->size() > ZNFNotesExtractor_maxExportBytes) {
        error = QStringLiteral("larger than %1 bytes").arg(ZNFNotesExtractor_maxExportBytes);
        qCWarning(lcConversion()).noquote()
            << QStringLiteral("Notes extractor: the export is %1, not read").arg(error);
        return nullptr;
    }
    return file;
}

bool ZNFNotesExtractor::readRecords(QIODevice& exportFile, const ZNFJSONArrayReader::Take& take,
                                    QString* error) {
    return ZNFJSONArrayReader::read(exportFile, take, error, {}, ZNFNotesAppImporterKey_text.data());
}

namespace {
// The export file has one fixed name, so two scripts must never run at once: a run started
// while an earlier one is still going waits for it.
QThreadPool& extractionQueue() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return *pool;
}
} // namespace

namespace {
// False when the script was still running at the time limit or when the run was cancelled.
bool waitForScript(QProcess& process, int timeLimit, const std::shared_ptr<std::atomic<bool>>& cancelled) {
    constexpr int pollMs = 100;
    QDeadlineTimer deadline(timeLimit);
    while (!process.waitForFinished(
        int(std::min<qint64>(pollMs, std::max<qint64>(deadline.remainingTime(), 1))))) {
        if (process.state() == QProcess::NotRunning)
            return true;
        if (cancelled && *cancelled) {
            qCInfo(lcConversion()).noquote()
                << QStringLiteral("Notes extractor: the run was cancelled; the export script was stopped");
            return false;
        }
        if (deadline.hasExpired()) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral(
                       "Notes extractor: the export script ran longer than %1 seconds and was stopped")
                       .arg(QString::number(timeLimit / 1000.0));
            return false;
        }
    }
    return true;
}
} // namespace

bool ZNFNotesExtractor::waitForScripts(int ms) {
    return extractionQueue().waitForDone(ms);
}

void ZNFNotesExtractor::getNotes(Completion completion) {
    const QString script = scriptPath();
    const int timeLimit = m_timeLimitMs;
    const auto cancelled = m_cancelled;
    extractionQueue().start([script, timeLimit, cancelled, completion = std::move(completion)] {
        // An export left behind by an earlier run must never pass for this run's.
        if (QFile::exists(exportFilePath()) && !QFile::remove(exportFilePath()))
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Notes extractor: could not remove the old export %1")
                       .arg(exportFilePath());
        if (script.isEmpty() || !QFileInfo(script).isFile()) {
            // Nothing to run: the script runner would wait for a script on its input.
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Notes extractor: the export script is missing, no notes");
            if (completion)
                completion(nullptr, QString());
            return;
        }
        QProcess process;
        process.setProgram(ZNFNotesExtractor_scriptRunner);
        process.setArguments({script});
        process.setStandardInputFile(QProcess::nullDevice());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
#ifdef Q_OS_UNIX
        // Its own process group, so that a stopped run also stops whatever the script started:
        // a leftover child would keep our stderr open and hold up whoever reads it.
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
        process.start();
        if (!process.waitForStarted(-1)) {
            qCWarning(lcConversion()).noquote()
                << QStringLiteral("Notes extractor: could not run %1: %2")
                       .arg(ZNFNotesExtractor_scriptRunner, process.errorString());
        } else if (!waitForScript(process, timeLimit, cancelled)) {
#ifdef Q_OS_UNIX
            if (process.processId() > 0)
                ::kill(-pid_t(process.processId()), SIGKILL);
#endif
            process.kill();
            process.waitForFinished(-1);
        }
        QString error;
        ZNFNotesExport notes = takeExport(error);
        if (completion)
            completion(std::move(notes), std::move(error));
    });
}
