#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcNotecrate)

// Fills each "%@" of a format, left to right, with the next argument; surplus "%@" stay.
QString ZNFFormat(const QString& format, const QStringList& arguments);

// One diagnostic line to the platform log. Never shown to the user.
void ZNFLog(const QString& line);

template <typename... Args> void ZNFLogf(const QString& format, const Args&... args) {
    ZNFLog(ZNFFormat(format, QStringList{args...}));
}

// Lets tests and tools see log lines as they are written (empty function removes the sink).
// The sink is called on whichever thread logged.
void ZNFSetLogSink(std::function<void(const QString&)> sink);
