#pragma once

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <vector>

// The peer layer's own threads. Every session, advertiser and browser keeps its sockets on
// one of a few long-lived threads and calls its delegate there, never on the caller's.
namespace ZNFPeerLayer {
// A running layer thread, chosen in turn so that two sessions in one process (a test, a
// benchmark) move their bytes in parallel.
QThread* nextThread();
// Runs `work` on `context`'s thread, later; dropped when the context is gone.
void post(QObject* context, std::function<void()> work);
} // namespace ZNFPeerLayer

// Calls collected while a link's state changes and made once it is consistent again: what they
// run (a sender's completion, a delegate) may call back into the session.
using ZNFPendingCalls = std::vector<std::function<void()>>;

// Jobs that run one after another on the layer's worker pool, off the link threads: what a
// resource transfer does besides moving bytes through the socket (reading, storing and
// hashing), so that it overlaps the network instead of taking turns with it.
class ZNFSerialWork {
public:
    ZNFSerialWork();
    // Waits for the job that is running; jobs not yet started still run first.
    ~ZNFSerialWork();
    ZNFSerialWork(const ZNFSerialWork&) = delete;
    ZNFSerialWork& operator=(const ZNFSerialWork&) = delete;

    void submit(std::function<void()> job);
    // Jobs submitted and not yet finished.
    int pending() const;
    void waitForDone();

private:
    struct State;
    std::shared_ptr<State> d;
};
