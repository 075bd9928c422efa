#include "conversion/ZNFNotesExtractor.h"

#include "platform/ZNFBundle.h"
#include "platform/ZNFLog.h"
#include "platform/ZNFPaths.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThreadPool>

QString ZNFNotesExtractor::exportFilePath() {
    return ZNFPaths::expandTilde(QLatin1String(ZNFNotesExtractor_exportFile));
}

QString ZNFNotesExtractor::scriptPath() {
    const QString bundlePath = ZNFBundle::mainBundle().pathForResource(
        QLatin1String(ZNFNotesExtractor_bundleName), QStringLiteral("bundle"));
    return ZNFBundle::bundleWithPath(bundlePath)
        .pathForResource(QLatin1String(ZNFNotesExtractor_scriptName),
                         QLatin1String(ZNFNotesExtractor_scriptType));
}

void ZNFNotesExtractor::readExport(std::optional<QJsonValue>& notes, QString& error) {
    notes.reset();
    error.clear();
    QFile file(exportFilePath());
    if (file.size() > ZNFNotesExtractor_maxExportBytes) {
        error = QStringLiteral("the export is larger than %1 bytes").arg(ZNFNotesExtractor_maxExportBytes);
        ZNFLogf("Notes extractor: %@, not read", error);
    } else if (file.open(QIODevice::ReadOnly)) {
        QByteArray bytes = file.readAll();
        file.close();
        const QByteArray start = bytes.left(64).trimmed();
        QJsonParseError parseError{};
        if (start.startsWith('[') || start.startsWith('{')) {
            // The usual export, parsed as it is: no second copy of a large file.
            QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
            bytes = QByteArray();
            if (parseError.error == QJsonParseError::NoError)
                notes = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        } else {
            // Wrapped in brackets so that a top-level value that is not an array or object parses too.
            const QJsonDocument doc = QJsonDocument::fromJson("[" + bytes + "]", &parseError);
            if (parseError.error == QJsonParseError::NoError && (!doc.isArray() || doc.array().size() != 1))
                error = QStringLiteral("not a single JSON value");
            else if (parseError.error == QJsonParseError::NoError)
                notes = doc.array().at(0);
        }
        if (parseError.error != QJsonParseError::NoError)
            error = parseError.errorString();
    }
    QFile::remove(exportFilePath());
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

void ZNFNotesExtractor::getNotes(Completion completion) {
    const QString script = scriptPath();
    const int timeLimit = m_timeLimitMs;
    extractionQueue().start([script, timeLimit, completion = std::move(completion)] {
        // An export left behind by an earlier run must never pass for this run's.
        if (QFile::exists(exportFilePath()) && !QFile::remove(exportFilePath()))
            ZNFLogf("Notes extractor: could not remove the old export %@", exportFilePath());
        if (script.isEmpty() || !QFileInfo(script).isFile()) {
            // Nothing to run: the script runner would wait for a script on its input.
            ZNFLog(QStringLiteral("Notes extractor: the export script is missing, no notes"));
            if (completion)
                completion(std::nullopt, QString());
            return;
        }
        QProcess process;
        process.setProgram(QLatin1String(ZNFNotesExtractor_scriptRunner));
        process.setArguments({script});
        process.setStandardInputFile(QProcess::nullDevice());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start();
        if (!process.waitForStarted(-1)) {
            ZNFLogf("Notes extractor: could not run %@: %@", QLatin1String(ZNFNotesExtractor_scriptRunner),
                    process.errorString());
        } else if (!process.waitForFinished(timeLimit)) {
            ZNFLogf("Notes extractor: the export script ran longer than %@ seconds and was stopped",
                    QString::number(timeLimit / 1000.0));
            process.kill();
            process.waitForFinished(-1);
        }
        std::optional<QJsonValue> notes;
        QString error;
        readExport(notes, error);
        if (completion)
            completion(std::move(notes), std::move(error));
    });
}
