#include "multipeer/ZNFTransferEstimate.h"

namespace {
constexpr qint64 kFirstEstimateMs = 1000;
}

qint64 ZNFTransferEstimate::update(qint64 done, qint64 total) {
    if (!m_clock.isValid())
        m_clock.start();
    return update(done, total, m_clock.elapsed());
}

qint64 ZNFTransferEstimate::update(qint64 done, qint64 total, qint64 elapsedMs) {
    if (m_firstDone < 0)
        m_firstDone = done;
    const qint64 moved = done - m_firstDone;
    if (elapsedMs < kFirstEstimateMs || moved <= 0 || total <= 0 || done > total)
        return -1;
    // Seconds, rounded up: "0 left" while bytes are still moving would be wrong.
    const double rest = double(total - done) * double(elapsedMs) / double(moved) / 1000.0;
    return qint64(rest) + (rest > qint64(rest) ? 1 : 0);
}

bool ZNFTransferEstimate::shouldRedraw(qint64 done, qint64 total) {
    if (m_lastRedraw.isValid() && m_lastRedraw.elapsed() < kRedrawIntervalMs && done < total)
        return false;
    m_lastRedraw.start();
    return true;
}
