#include "platform/peer/ZNFPeerLayer_p.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThreadPool>
#include <QVector>
#include <QWaitCondition>
#include <atomic>
#include <deque>

namespace {
constexpr int kThreadCount = 3;
// Workers hash and store; more than this only makes them take turns.
constexpr int kWorkerCount = 4;

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

QThreadPool& workers() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // left to the end of the process, as the threads are
        p->setMaxThreadCount(kWorkerCount);
        return p;
    }();
    return *pool;
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

struct ZNFSerialWork::State {
    QMutex mutex;
    QWaitCondition idle;
    std::deque<std::function<void()>> jobs;
    int outstanding = 0;
    bool running = false;

    static void drain(const std::shared_ptr<State>& self) {
        for (;;) {
            std::function<void()> job;
            {
                QMutexLocker lock(&self->mutex);
                if (self->jobs.empty()) {
                    self->running = false;
                    return;
                }
                job = std::move(self->jobs.front());
                self->jobs.pop_front();
            }
            job();
            QMutexLocker lock(&self->mutex);
            if (--self->outstanding == 0)
                self->idle.wakeAll();
        }
    }
};

ZNFSerialWork::ZNFSerialWork() : d(std::make_shared<State>()) {}

ZNFSerialWork::~ZNFSerialWork() {
    waitForDone();
}

void ZNFSerialWork::submit(std::function<void()> job) {
    QMutexLocker lock(&d->mutex);
    d->jobs.push_back(std::move(job));
    ++d->outstanding;
    if (d->running)
        return;
    d->running = true;
    workers().start([state = d] { State::drain(state); });
}

int ZNFSerialWork::pending() const {
    QMutexLocker lock(&d->mutex);
    return d->outstanding;
}

void ZNFSerialWork::waitForDone() {
    QMutexLocker lock(&d->mutex);
    while (d->outstanding > 0)
        d->idle.wait(&d->mutex);
}
