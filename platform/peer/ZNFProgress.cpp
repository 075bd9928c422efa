#include "platform/peer/ZNFProgress.h"

double ZNFProgress::fractionCompleted() const {
    const qint64 total = m_total.load();
    if (total <= 0)
        return total == 0 && isFinished() ? 1.0 : 0.0;
    return double(m_completed.load()) / double(total);
}

bool ZNFProgress::isFinished() const {
    const qint64 total = m_total.load();
    return total >= 0 && m_completed.load() >= total;
}

void ZNFProgress::setChangeHandler(std::function<void(qint64, qint64)> handler) {
    QMutexLocker lock(&m_mutex);
    m_handler = std::move(handler);
}

void ZNFProgress::setCompletedUnitCount(qint64 completed) {
    m_completed.store(completed);
    std::function<void(qint64, qint64)> handler;
    {
        QMutexLocker lock(&m_mutex);
        handler = m_handler;
    }
    if (handler)
        handler(completed, m_total.load());
}
