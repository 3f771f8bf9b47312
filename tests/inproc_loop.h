// Stopping the daemon's event loop that an in-process test runs on a thread
// of its own.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "base/path.h"
#include "core/eloop.h"
#include "server/client.h"

namespace cnxd::test {

// Sets the loop's terminate flag, wakes its select with a datagram the
// server socket ignores, and joins the loop's thread.
inline void stop_event_loop(std::thread& loop)
{
    eloop_terminate(&eloop);
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", cnxd_path(CNXD_SERVER_PATH).c_str());
    const char poke = 0;
    sendto(fd, &poke, 1, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    close(fd);
    loop.join();
}

}  // namespace cnxd::test
