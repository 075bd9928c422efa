#pragma once

#include "conversion/ZNFBackupArchive.h"
#include "conversion/ZNFConversionOutcome.h"
#include "conversion/ZNFPicturePipeline.h"
#include "platform/ZNFDate.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <vector>

// A picture as a source hands it over: its bytes, already read (from a zip, or decoded base64).
struct ZNFImportedPicture {
    QString name; // the file name the note knew it by
    QByteArray bytes;
};

// A note as a source read it, before it goes into the archive.
struct ZNFImportedNote {
    QString identifier;
    QString title; // names the note in what was left out
    QString body;
    ZNFDate created;
    ZNFDate updated;
    std::vector<ZNFImportedPicture> pictures;
};

// Writes notes read by a source into one archive: pictures are decoded and encoded on the picture
// pool while the next notes are read, and each note's entry follows its image entries, in the
// order the notes came. A picture no picture can be made of is left out by name in the outcome.
class ZNFImportedNoteWriter {
public:
    ZNFImportedNoteWriter(QLatin1StringView archiveName, ZNFConversionOutcome& outcome, int threads = 0);
    ~ZNFImportedNoteWriter();

    bool isOK() const { return m_archive.isOK(); }
    void add(ZNFImportedNote note);
    // Writes what is outstanding and the archive; fills in the outcome's path, notes and
    // attachments, or its failure. `cancelled` drops everything instead.
    void finish(bool cancelled, const QString& emptyFailure);

    // The note entry without its body.
    static QJsonObject noteEntry(const QString& identifier, const ZNFDate& created, const ZNFDate& updated);

private:
    ZNFConversionOutcome& m_outcome;
    ZNFBackupArchiveWriter m_archive;
    ZNFPicturePipeline m_pipeline;
};
