#pragma once

#include <functional>

// The main queue is Qt's GUI thread. Safe from any thread; the work runs later on the main
// thread's event loop, never inside the call.
void ZNFPostToMainQueue(std::function<void()> work);
