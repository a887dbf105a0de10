// What the module holds for the whole process: the log binding, the companion libraries, the
// named-event worker, the console user's token of the drive map and the work items on the
// system thread pool. It is taken with the first plugin object and let go, in reverse order,
// when the last one is destroyed: the host may unload the module once that Destroy has returned,
// so nothing of the module may run or be held after it, and unloading itself does no work.
#pragma once
#include <cstdint>

#include "platform/threads.h"

namespace vantel {

// How long a Destroy waits for the named-event worker to deliver what was committed, and the
// last Destroy for the module's work items to end.
constexpr uint32_t kReleaseWaitMs = 10000;

// Queues a long-running work item of the module on the system thread pool. Refused (false)
// while no plugin object lives; the last Destroy waits for every item queued before it.
bool QueueModuleWork(platform::WorkFunction function, void* context);

// The factory's calls, with its lock held: before the first plugin object is built, and after
// the last one has been destroyed. Work items that watch for changes are woken by their plugin's
// Stop or Destroy, or, when they serve the whole process (the SAM watch), at the start of
// ReleaseModuleResources; everything that holds a library, a thread or a handle for the whole
// process is let go there, in reverse order.
void AcquireModuleResources();
void ReleaseModuleResources();

}  // namespace vantel
