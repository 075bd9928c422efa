#include "platform/peer/ZNFPeerLayer_p.h"

#include <QCoreApplication>
#include <QMutex>
#include <QVector>
#include <atomic>

namespace {
constexpr int kThreadCount = 3;

struct Threads {
    QMutex mutex;
    QVector<QThread*> threads;
    std::atomic<unsigned> next{0};
};

Threads& threads() {
    static Threads* instance = new Threads; // left to the end of the process on purpose
    return *instance;
}

// Stopped with the application so that no socket outlives the event loops that serve it.
void stopThreads() {
    Threads& t = threads();
    QMutexLocker lock(&t.mutex);
    for (QThread* thread : t.threads) {
        thread->quit();
        thread->wait(5000);
    }
    t.threads.clear();
}
} // namespace

QThread* ZNFPeerLayer::nextThread() {
    Threads& t = threads();
    QMutexLocker lock(&t.mutex);
    if (t.threads.isEmpty()) {
        for (int i = 0; i < kThreadCount; ++i) {
            auto* thread = new QThread;
            thread->setObjectName(QStringLiteral("ZNFPeerLayer-%1").arg(i));
            thread->start();
            t.threads.append(thread);
        }
        if (QCoreApplication::instance())
            qAddPostRoutine(stopThreads);
    }
    return t.threads.at(int(t.next.fetch_add(1) % unsigned(t.threads.size())));
}

void ZNFPeerLayer::post(QObject* context, std::function<void()> work) {
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}
