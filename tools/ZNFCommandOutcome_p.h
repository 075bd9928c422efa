#pragma once

#include "platform/ZNFMainQueue.h"

#include <QEventLoop>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <atomic>
#include <memory>

// How a networked subcommand ends: the first finish() from any thread wins, records the exit
// status and message, and stops the main thread's event loop.
struct ZNFCommandOutcome : std::enable_shared_from_this<ZNFCommandOutcome> {
    std::atomic<bool> done{false};
    QMutex mutex;
    int status = 1;
    QString text;
    QPointer<QEventLoop> loop; // read on the main thread only

    void finish(int code, const QString& message) {
        if (done.exchange(true))
            return;
        {
            QMutexLocker lock(&mutex);
            status = code;
            text = message;
        }
        ZNFPostToMainQueue([self = shared_from_this()] {
            if (self->loop)
                self->loop->quit();
        });
    }
};
