#include "platform/ZNFLog.h"

#include <QMutex>

Q_LOGGING_CATEGORY(lcNotecrate, "notecrate", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "notecrate.platform", QtInfoMsg)

namespace {
QMutex sinkMutex;
std::function<void(const QString&)>& logSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}
} // namespace

QString ZNFFormat(const QString& format, const QStringList& arguments) {
    QString out;
    out.reserve(format.size() + 32);
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u'@' && next < arguments.size()) {
            out += arguments[next++];
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

void ZNFLog(const QString& line) {
    ZNFLog(lcNotecrate(), QtInfoMsg, line);
}

void ZNFLog(const QLoggingCategory& category, QtMsgType type, const QString& line) {
    if (type == QtWarningMsg)
        qCWarning(category).noquote() << line;
    else
        qCInfo(category).noquote() << line;
    QMutexLocker lock(&sinkMutex);
    if (logSink())
        logSink()(line);
}

void ZNFSetLogSink(std::function<void(const QString&)> sink) {
    QMutexLocker lock(&sinkMutex);
    logSink() = std::move(sink);
}
