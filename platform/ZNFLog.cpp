#include "platform/ZNFLog.h"

#include <QMutex>
#include <cstdio>

Q_LOGGING_CATEGORY(lcNotecrate, "notecrate", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "notecrate.platform", QtInfoMsg)

namespace {
QMutex sinkMutex;
std::function<void(const QString&)> sink;
QtMessageHandler previousHandler = nullptr;
bool handlerInstalled = false;

bool isOwnCategory(const char* category) {
    return category && qstrncmp(category, "notecrate", 9) == 0 && (category[9] == '\0' || category[9] == '.');
}

void forwardMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (isOwnCategory(context.category)) {
        QMutexLocker lock(&sinkMutex);
        if (sink)
            sink(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
    else
        fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}
} // namespace

void ZNFSetLogSink(std::function<void(const QString&)> newSink) {
    QMutexLocker lock(&sinkMutex);
    sink = std::move(newSink);
    // Installed once and kept: a handler installed after this one chains to it, and taking it
    // out again could drop theirs.
    if (!handlerInstalled) {
        handlerInstalled = true;
        previousHandler = qInstallMessageHandler(forwardMessage);
    }
}
