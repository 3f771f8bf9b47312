#include "server/sem.h"

#include <sys/sem.h>

#include <cerrno>

#include "ltesdk.h"
#include "server/hci.h"

namespace cnxd {
namespace {

int semop_pair(int semid, sembuf (&ops)[2], const char* who)
{
    int rc;
    do {
        rc = semop(semid, ops, 2);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        sdk_log(3, "%s, semop() failed, errno (%d)\n", who, errno);
    return rc;
}

}  // namespace

int ready_sem(int semid)
{
    sembuf ops[2] = {{SEM_BUSY, 0, 0}, {SEM_BUSY, 1, 0}};
    return semop_pair(semid, ops, "ready_sem");
}

int release_sem(int semid)
{
    sembuf ops[2] = {{SEM_BUSY, -1, 0}, {SEM_DONE, 1, 0}};
    return semop_pair(semid, ops, "release_sem");
}

}  // namespace cnxd
