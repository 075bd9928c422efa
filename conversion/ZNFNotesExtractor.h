#pragma once

#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>

inline constexpr const char* ZNFNotesExtractor_bundleName = "ZNFNotesExtractor";
inline constexpr const char* ZNFNotesExtractor_scriptName = "exportNotes";
inline constexpr const char* ZNFNotesExtractor_scriptType = "scpt";
inline constexpr const char* ZNFNotesExtractor_exportFile = "~/Desktop/znfexporter_mac_exported_notes.json";

// Gets the notes out of the Notes app by running the bundled export script through
// "/bin/bash -c 'osascript <script>'" and reading the file it leaves on the Desktop.
class ZNFNotesExtractor {
public:
    // notes: the parsed export (nullopt when the file was missing or did not parse);
    // error: the parse error, empty when there was none.
    using Completion = std::function<void(std::optional<QJsonValue> notes, QString error)>;

    // Returns once the script has been started; the completion runs once, on a background
    // thread, after the script has ended.
    void getNotes(Completion completion);

    static QString exportFilePath();
    static QString scriptPath();
    // Reads, parses and deletes the export file (the work done after the script ends).
    static void readExport(std::optional<QJsonValue>& notes, QString& error);
};
