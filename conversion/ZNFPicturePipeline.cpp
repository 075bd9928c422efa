#include "conversion/ZNFPicturePipeline.h"

#include <QThread>

#include <memory>

ZNFPicturePipeline::ZNFPicturePipeline(int threads) : m_threads(qMax(1, threads)) {
    m_pool.setMaxThreadCount(m_threads);
}

ZNFPicturePipeline::~ZNFPicturePipeline() {
    abandon();
}

int ZNFPicturePipeline::defaultThreadCount() {
    return qBound(1, QThread::idealThreadCount(), 4);
}

void ZNFPicturePipeline::submit(qint64 cost, Work work) {
    if (m_threads == 1) {
        if (Delivery delivery = work())
            delivery();
        return;
    }
    // Never wait for room while nothing is in flight: a picture above the budget runs alone.
    while (!m_pending.empty() &&
           (m_pending.size() >= size_t(m_threads * ZNFPicturePipeline_picturesPerThread) ||
            m_bytesInFlight + cost > ZNFPicturePipeline_maxBytesInFlight))
        deliverOne();
    auto promise = std::make_shared<std::promise<Delivery>>();
    m_pending.push_back({promise->get_future(), cost});
    m_bytesInFlight += cost;
    m_pool.start([promise, work = std::move(work)] { promise->set_value(work()); });
}

void ZNFPicturePipeline::deliverOne() {
    Pending pending = std::move(m_pending.front());
    m_pending.pop_front();
    const Delivery delivery = pending.result.get();
    if (delivery)
        delivery();
    m_bytesInFlight -= pending.cost;
}

void ZNFPicturePipeline::finish() {
    while (!m_pending.empty())
        deliverOne();
}

void ZNFPicturePipeline::abandon() {
    m_pool.waitForDone();
    m_pending.clear();
    m_bytesInFlight = 0;
}
