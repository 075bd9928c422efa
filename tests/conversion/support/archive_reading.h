#pragma once

// What the conversion tests read back: an archive's index, a folder's names, and a fixed
// time zone for the dates the importers read in local time.
#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <ctime>

// The index's "entries"; empty when there is no index.
inline QJsonArray entriesOf(const ZipContents& zip) {
    const ZipEntry* index = zip.find(QStringLiteral("entries.json"));
    return index ? QJsonDocument::fromJson(index->data).object().value(QStringLiteral("entries")).toArray()
                 : QJsonArray();
}
inline QJsonArray entriesOf(const QString& archive) {
    return entriesOf(readZip(archive));
}

// Every name in a folder, hidden ones too, sorted.
inline QStringList folderContents(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ")) {
        qputenv("TZ", tz);
        tzset();
    }
    ~ScopedTimeZone() {
        m_had ? qputenv("TZ", m_old) : qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};
