#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// How a conversion ended, for every importer and every front end: the archive and what went
// into it, or the reason there is none. The reason is one line a user can act on.
struct ZNFConversionOutcome {
    QString path; // the archive; empty when none was written
    qint64 notes = 0;
    qint64 attachments = 0;
    QString failure; // why there is no archive, or why it holds no note
    bool cancelled = false;

    // What the user asked for: an archive with at least one note in it.
    bool succeeded() const { return !path.isEmpty() && notes >= 1; }
};

using ZNFImporterCompletion = std::function<void(const ZNFConversionOutcome& outcome)>;
