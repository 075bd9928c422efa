#include "conversion/ZNFConversionJob.h"

#include <QCoreApplication>
#include <QMutex>
#include <QPointer>
#include <QThreadPool>

#include <utility>

namespace {
QThreadPool& conversionQueue() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(1);
        p->setObjectName(QStringLiteral("ZNFConversionJob"));
        return p;
    }();
    return *pool;
}
} // namespace

// What the worker and the main thread share: the latest progress, posted at most once at a
// time, so that a source reporting every note never floods the main queue.
struct ZNFConversionJob::Shared {
    QMutex mutex;
    qint64 done = 0;
    qint64 total = 0;
    bool progressPosted = false;
};

ZNFConversionJob::ZNFConversionJob(Work work, QObject* parent)
    : QObject(parent), m_work(std::move(work)), m_cancelled(std::make_shared<std::atomic<bool>>(false)),
      m_shared(std::make_shared<Shared>()) {
    qRegisterMetaType<ZNFConversionOutcome>();
}

ZNFConversionJob::~ZNFConversionJob() {
    if (!m_ended)
        *m_cancelled = true;
}

void ZNFConversionJob::start() {
    if (m_started)
        return;
    m_started = true;
    QPointer<ZNFConversionJob> job(this);
    conversionQueue().start([job, work = std::move(m_work), cancelled = m_cancelled, shared = m_shared] {
        ZNFConversionOutcome outcome;
        if (*cancelled) {
            outcome.cancelled = true;
        } else {
            const ZNFConversionProgressHandler report = [job, shared, cancelled](qint64 done, qint64 total) {
                {
                    const QMutexLocker lock(&shared->mutex);
                    shared->done = done;
                    shared->total = total;
                    if (*cancelled || std::exchange(shared->progressPosted, true))
                        return;
                }
                // The job is only looked at on the main thread, where it may have been deleted.
                QMetaObject::invokeMethod(
                    qApp,
                    [job] {
                        if (job)
                            job->deliverProgress();
                    },
                    Qt::QueuedConnection);
            };
            outcome = work ? work(report, cancelled) : ZNFConversionOutcome{};
        }
        // Posted after every progress call of the run, so it arrives after them.
        QMetaObject::invokeMethod(
            qApp,
            [job, outcome = std::move(outcome)] {
                if (job)
                    job->deliverOutcome(outcome);
            },
            Qt::QueuedConnection);
    });
}

void ZNFConversionJob::cancel() {
    *m_cancelled = true;
}

void ZNFConversionJob::deliverProgress() {
    qint64 done = 0;
    qint64 total = 0;
    {
        const QMutexLocker lock(&m_shared->mutex);
        m_shared->progressPosted = false;
        done = m_shared->done;
        total = m_shared->total;
    }
    if (!isCancelled() && !m_ended)
        emit progress(done, total);
}

void ZNFConversionJob::deliverOutcome(const ZNFConversionOutcome& outcome) {
    m_ended = true;
    // Only a cancel from outside silences the outcome: work that stops by itself still ends its
    // run, so nobody waits for it forever.
    if (!isCancelled())
        emit finished(outcome);
    if (m_autoDelete)
        deleteLater();
}

bool ZNFConversionJob::waitForRuns(int ms) {
    return conversionQueue().waitForDone(ms);
}
