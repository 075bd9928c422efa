#pragma once

#include <QThreadPool>
#include <deque>
#include <functional>
#include <future>

// Pictures in flight at once may hold this many bytes of decoded pixels; a picture larger than
// the whole budget runs alone.
inline constexpr qint64 ZNFPicturePipeline_maxBytesInFlight = 512LL * 1024 * 1024;
// At most this many pictures per thread are decoded or waiting to be written.
inline constexpr int ZNFPicturePipeline_picturesPerThread = 2;

// Decodes and encodes pictures on a few worker threads while the archive is written, in the
// order the pictures were submitted, on the calling thread. Memory stays flat however many
// pictures there are: a submit() waits (delivering earlier results) while the window or the
// byte budget is full. With one thread everything runs inline, in the same order, so the
// archive does not depend on the number of threads.
//
//   ZNFPicturePipeline pipeline(threads);
//   for (const Picture& p : pictures)
//       pipeline.submit(bytes(p), [p] { QByteArray png = encode(p);
//                                        return [png] { archive.addResource(..., png); }; });
//   pipeline.finish();
class ZNFPicturePipeline {
public:
    using Delivery = std::function<void()>; // runs on the calling thread, in submission order
    using Work = std::function<Delivery()>; // runs on a worker thread

    explicit ZNFPicturePipeline(int threads = defaultThreadCount());
    // Waits for the work in flight; results not yet delivered are dropped.
    ~ZNFPicturePipeline();

    // `cost`: the bytes the work will hold while it runs (its decoded picture).
    void submit(qint64 cost, Work work);
    // Delivers every outstanding result.
    void finish();
    // Waits for the work in flight and drops its results (a cancelled run).
    void abandon();

    int threadCount() const { return m_threads; }
    // qBound(1, the machine's cores, 4).
    static int defaultThreadCount();

private:
    struct Pending {
        std::future<Delivery> result;
        qint64 cost = 0;
    };
    void deliverOne();

    int m_threads;
    QThreadPool m_pool;
    std::deque<Pending> m_pending;
    qint64 m_bytesInFlight = 0;
};
