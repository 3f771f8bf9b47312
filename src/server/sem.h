// The semaphore protocol that paces a client's API requests.
#pragma once

namespace cnxd {

// Before serving a request: wait until the client is not busy, mark it busy.
int ready_sem(int semid);
// After serving it, whatever the outcome: clear busy, raise one completion.
int release_sem(int semid);

}  // namespace cnxd
