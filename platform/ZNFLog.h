#pragma once

#include <QLoggingCategory>
#include <QString>
#include <functional>

// Each library logs in its own category, "notecrate.<library>": a user or a test turns one
// library's lines on or off with QT_LOGGING_RULES. Lines are never shown in the window.
// qCInfo for what happened, qCWarning for a failure (something the user asked for that was not
// done, or data left out); a line is one QString, streamed with noquote().
Q_DECLARE_LOGGING_CATEGORY(lcNotecrate)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

// Lets tests and tools see the lines of the "notecrate" categories as they are written (an empty
// function removes the sink); every message still reaches the handler installed before. The
// sink is called on whichever thread logged.
void ZNFSetLogSink(std::function<void(const QString&)> sink);
