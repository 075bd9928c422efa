#include "platform/ZNFMainQueue.h"

#include <QCoreApplication>

void ZNFPostToMainQueue(std::function<void()> work) {
    if (!QCoreApplication::instance() || !work)
        return;
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}
