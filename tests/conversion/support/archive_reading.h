#pragma once

// The conversion tests' common header. What they read back: an archive's index and its golden file, a
// folder's names, and a fixed time zone for the dates the importers read in local time.
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <ctime>
#include <gtest/gtest.h>

// The index's "entries"; empty when there is no index.
inline QJsonArray entriesOf(const ZipContents& zip) {
    const ZipEntry* index = zip.find(QStringLiteral("entries.json"));
    return index ? QJsonDocument::fromJson(index->data).object().value(QStringLiteral("entries")).toArray()
                 : QJsonArray();
}
inline QJsonArray entriesOf(const QString& archive) {
    return entriesOf(readZip(archive));
}

// An archive's index byte for byte against the committed golden/<name>, where it guards the
// format on disk; run with NOTECRATE_UPDATE_GOLDEN=1 to write the file instead.
inline void expectGoldenIndex(const QByteArray& index, const QString& name) {
    const QString path = QStringLiteral(NOTECRATE_SOURCE_DIR "/tests/conversion/golden/") + name;
    if (qEnvironmentVariableIsSet("NOTECRATE_UPDATE_GOLDEN"))
        writeFile(path, index);
    EXPECT_EQ(index.toStdString(), readFile(path).toStdString()) << name.toStdString();
}

// Every name in a folder, hidden ones too, sorted.
inline QStringList folderContents(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// An environment variable set for one test and put back when it ends. TZ is read again each
// time, for the dates the importers read in local time.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value) : m_name(name), m_old(qgetenv(name)) {
        set(value);
    }
    ~ScopedVariable() { set(m_old); }
    void set(const QByteArray& value) {
        value.isNull() ? qunsetenv(m_name) : qputenv(m_name, value);
        tzset();
    }

private:
    const char* m_name;
    QByteArray m_old; // null: it was not set
};
