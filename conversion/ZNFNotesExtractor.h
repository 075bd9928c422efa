#pragma once

#include <atomic>
#include <memory>

#include "conversion/ZNFJSONArrayReader.h"

#include <QFile>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <memory>

inline constexpr QLatin1StringView ZNFNotesExtractor_bundleName{"ZNFNotesExtractor"};
inline constexpr QLatin1StringView ZNFNotesExtractor_scriptName{"exportNotes"};
inline constexpr QLatin1StringView ZNFNotesExtractor_scriptType{"scpt"};
inline constexpr QLatin1StringView ZNFNotesExtractor_exportFile{
    "~/Desktop/znfexporter_mac_exported_notes.json"};
inline constexpr QLatin1StringView ZNFNotesExtractor_scriptRunner{"osascript"};
// A script still running after this long is stopped (an automation prompt nobody answers, a
// Notes app that hangs): one stuck script must not block every later conversion.
inline constexpr int ZNFNotesExtractor_scriptTimeLimitMs = 10 * 60 * 1000;
// An export file larger than this is not read.
inline constexpr qint64 ZNFNotesExtractor_maxExportBytes = 1024LL * 1024 * 1024;

// The export the script left, open for reading; its name is already gone from the Desktop.
using ZNFNotesExport = std::shared_ptr<QFile>;

// Gets the notes out of the Notes app by running the bundled export script with osascript
// (the script's path is its own argument: no shell, no standard input) and reading the file
// it leaves on the Desktop.
class ZNFNotesExtractor {
public:
    // notes: the export (null when the script left none or it could not be taken); error: why
    // it could not be taken, empty when there was none to take.
    using Completion = std::function<void(ZNFNotesExport notes, QString error)>;

    // Returns once the script has been started; the completion runs once, on a background
    // thread, after the script has ended.
    // Without a script resource nothing is run and the completion receives (null, empty).
    void getNotes(Completion completion);

    // How long the script may run; ZNFNotesExtractor_scriptTimeLimitMs unless set.
    void setTimeLimit(int milliseconds) { m_timeLimitMs = milliseconds; }
    // Waits (at most `ms`) for the scripts started so far to end; false when one still runs.
    static bool waitForScripts(int ms);
    // Setting the flag stops the script at once, as running out of time does.
    void setCancelFlag(std::shared_ptr<std::atomic<bool>> cancelled) { m_cancelled = std::move(cancelled); }

    static QString exportFilePath();
    static QString scriptPath();
    // Opens the export file and removes its name at once (the work done after the script
    // ends): it can never pass for a later run's, and no note stays on the Desktop. Null when
    // there is none, or it is larger than the limit (then `error` says why, in words that follow
    // "the export is"; it is removed too).
    static ZNFNotesExport takeExport(QString& error);
    // Calls `take` with each element of the export, one at a time, and stops early when it
    // returns false. False, with the reason in `error`, when the export is not a JSON array.
    // The records' "text" is handed over apart (see ZNFJSONArrayReader).
    static bool readRecords(QIODevice& exportFile, const ZNFJSONArrayReader::Take& take, QString* error);

private:
    int m_timeLimitMs = ZNFNotesExtractor_scriptTimeLimitMs;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
};
