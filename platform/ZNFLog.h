#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <functional>

// Each library logs in its own category, "notecrate.<library>": a user or a test turns one
// library's lines on or off with QT_LOGGING_RULES. Lines are never shown in the window.
Q_DECLARE_LOGGING_CATEGORY(lcNotecrate)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

// Fills each "%@" of a format, left to right, with the next argument; surplus "%@" stay.
QString ZNFFormat(const QString& format, const QStringList& arguments);

// One diagnostic line in `category` at `type`: QtInfoMsg for what happened, QtWarningMsg
// for a failure (something the user asked for that was not done, or data left out).
void ZNFLog(const QLoggingCategory& category, QtMsgType type, const QString& line);
// The same in the "notecrate" category at info level, for code without a category of its own.
void ZNFLog(const QString& line);

template <typename... Args> void ZNFLogf(const QString& format, const Args&... args) {
    ZNFLog(ZNFFormat(format, QStringList{args...}));
}
template <typename... Args>
void ZNFLogf(const QLoggingCategory& category, const QString& format, const Args&... args) {
    ZNFLog(category, QtInfoMsg, ZNFFormat(format, QStringList{args...}));
}
template <typename... Args>
void ZNFWarnf(const QLoggingCategory& category, const QString& format, const Args&... args) {
    ZNFLog(category, QtWarningMsg, ZNFFormat(format, QStringList{args...}));
}

// Lets tests and tools see log lines as they are written (empty function removes the sink).
// The sink is called on whichever thread logged.
void ZNFSetLogSink(std::function<void(const QString&)> sink);
