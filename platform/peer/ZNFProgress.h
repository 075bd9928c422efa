#pragma once

#include <QMutex>
#include <atomic>
#include <functional>

// How far one resource transfer has come, in bytes. Safe to read and cancel from any
// thread; the change handler is called on the peer layer's thread that moves the bytes.
class ZNFProgress {
public:
    explicit ZNFProgress(qint64 totalUnitCount = -1) : m_total(totalUnitCount) {}

    qint64 totalUnitCount() const { return m_total.load(); }
    qint64 completedUnitCount() const { return m_completed.load(); }
    // 0 to 1; 0 while the total is unknown.
    double fractionCompleted() const;
    bool isFinished() const;

    // Stops the transfer; its completion then reports a cancelled error.
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

    void setChangeHandler(std::function<void(qint64 completed, qint64 total)> handler);

    // For the layer.
    void setTotalUnitCount(qint64 total) { m_total.store(total); }
    void setCompletedUnitCount(qint64 completed);

private:
    std::atomic<qint64> m_total;
    std::atomic<qint64> m_completed{0};
    std::atomic<bool> m_cancelled{false};
    mutable QMutex m_mutex;
    std::function<void(qint64, qint64)> m_handler;
};
