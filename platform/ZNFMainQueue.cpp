#include "platform/ZNFMainQueue.h"

#include <QCoreApplication>
#include <QTimer>

void ZNFPostToMainQueue(std::function<void()> work) {
    if (!QCoreApplication::instance() || !work)
        return;
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

void ZNFPostToMainQueueAfter(double seconds, std::function<void()> work) {
    if (!QCoreApplication::instance() || !work)
        return;
    const int ms = seconds > 0 ? static_cast<int>(seconds * 1000.0 + 0.5) : 0;
    // The timer must be started on the main thread; hop there first.
    ZNFPostToMainQueue([ms, work = std::move(work)]() mutable {
        QTimer::singleShot(ms, QCoreApplication::instance(), std::move(work));
    });
}
