#pragma once

#include <QObject>
#include <QThread>
#include <functional>

// The peer layer's own threads. Every session, advertiser and browser keeps its sockets on
// one of a few long-lived threads and calls its delegate there, never on the caller's.
namespace ZNFPeerLayer {
// A running layer thread, chosen in turn so that two sessions in one process (a test, a
// benchmark) move their bytes in parallel.
QThread* nextThread();
// Runs `work` on `context`'s thread, later; dropped when the context is gone.
void post(QObject* context, std::function<void()> work);
} // namespace ZNFPeerLayer
