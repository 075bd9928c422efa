#pragma once

#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>

inline constexpr const char* ZNFNotesExtractor_bundleName = "ZNFNotesExtractor";
inline constexpr const char* ZNFNotesExtractor_scriptName = "exportNotes";
inline constexpr const char* ZNFNotesExtractor_scriptType = "scpt";
inline constexpr const char* ZNFNotesExtractor_exportFile = "~/Desktop/znfexporter_mac_exported_notes.json";
inline constexpr const char* ZNFNotesExtractor_scriptRunner = "osascript";
// A script still running after this long is stopped (an automation prompt nobody answers, a
// Notes app that hangs): one stuck script must not block every later conversion.
inline constexpr int ZNFNotesExtractor_scriptTimeLimitMs = 10 * 60 * 1000;
// An export file larger than this is not read.
inline constexpr qint64 ZNFNotesExtractor_maxExportBytes = 1024LL * 1024 * 1024;

// Gets the notes out of the Notes app by running the bundled export script with osascript
// (the script's path is its own argument: no shell, no standard input) and reading the file
// it leaves on the Desktop.
class ZNFNotesExtractor {
public:
    // notes: the parsed export (nullopt when the file was missing or did not parse);
    // error: the parse error, empty when there was none.
    using Completion = std::function<void(std::optional<QJsonValue> notes, QString error)>;

    // Returns once the script has been started; the completion runs once, on a background
    // thread, after the script has ended.
    // Without a script resource nothing is run and the completion receives (nullopt, empty).
    void getNotes(Completion completion);

    // How long the script may run; ZNFNotesExtractor_scriptTimeLimitMs unless set.
    void setTimeLimit(int milliseconds) { m_timeLimitMs = milliseconds; }

    static QString exportFilePath();
    static QString scriptPath();
    // Reads, parses and deletes the export file (the work done after the script ends).
    static void readExport(std::optional<QJsonValue>& notes, QString& error);

private:
    int m_timeLimitMs = ZNFNotesExtractor_scriptTimeLimitMs;
};
