#include "core/eloop.h"

#include <sys/eventfd.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace cnxd {

eloop_data eloop;

namespace {

eloop_sock* sock_of(list_head* link) { return reinterpret_cast<eloop_sock*>(link); }

// Calls the handler of every ready active socket. The next
// link is saved before each call; a handler may release any record, its own
// included, since a release during the loop only clears `active` and the
// record stays listed until the sweep. A handler may also register a record,
// which goes to the tail. The counter guards against a corrupt (cyclic) list.
void dispatch_ready(eloop_data* loop, const fd_set& ready, int max_fd)
{
    int counter = 0;
    list_head* head = &loop->sockets;
    for (list_head *link = head->next, *next = link->next; link != head;
         link = next, next = link->next) {
        eloop_sock* s = sock_of(link);
        if (!s->active)
            continue;
        if (counter > max_fd) {
            std::printf("I'm stucked in the infinite loop\n");
            return;
        }
        ++counter;
        const int fd = s->sock;
        if (fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &ready))
            s->handler(s);
    }
}

// Unlinks every record released since the last sweep, during the walk or
// by another thread; only now may its owner reuse it. Run outside the walk
// only: before it (so that a record released on another thread while the
// loop waited is free again when a handler, such as the server socket's,
// allocates) and after it (records dropped during the walk).
void sweep_inactive(eloop_data* loop)
{
    list_head* head = &loop->sockets;
    for (list_head *link = head->next, *next = link->next; link != head;
         link = next, next = link->next) {
        eloop_sock* s = sock_of(link);
        if (!s->active) {
            list_del_init(link);
            s->used = 0;
        }
    }
}

void drain_wake(int fd)
{
    uint64_t count;
    [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
}

}  // namespace

void eloop_init(eloop_data* loop)
{
    list_init(&loop->sockets);
    loop->terminate = 0;
    if (loop->wake_fd < 0)
        loop->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    else
        drain_wake(loop->wake_fd);
}

int eloop_register_sock(eloop_data* loop, eloop_sock* s)
{
    // A record unregistered during the loop and not yet swept is still
    // listed: it is taken back in place. Only the loop's own thread (a
    // handler) registers while the loop runs, so no sweep runs meanwhile.
    if (!loop->running || list_empty(&s->link)) {
        list_init(&s->link);
        list_add_tail(&s->link, &loop->sockets);
    }
    s->active = 1;
    return 0;
}

void eloop_unregister_sock(eloop_data* loop, eloop_sock* s)
{
    s->active = 0;
    if (loop->running) {
        eloop_wake(loop);
        return;
    }
    list_del_init(&s->link);
    s->used = 0;
}

void eloop_wake(eloop_data* loop)
{
    const int fd = loop->wake_fd;
    if (fd < 0)
        return;
    const uint64_t one = 1;
    // A full counter already holds a wake-up.
    [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
}

void eloop_terminate(eloop_data* loop)
{
    loop->terminate = 1;
    eloop_wake(loop);
}

void eloop_run(eloop_data* loop)
{
    loop->running = true;
    const int wake_fd = loop->wake_fd;
    while (!loop->terminate && !list_empty(&loop->sockets)) {
        fd_set ready;
        FD_ZERO(&ready);
        int max_fd = 0;
        if (wake_fd >= 0 && wake_fd < FD_SETSIZE) {
            FD_SET(wake_fd, &ready);
            max_fd = wake_fd;
        }
        list_head* head = &loop->sockets;
        for (list_head* link = head->next; link != head; link = link->next) {
            const int fd = sock_of(link)->sock;
            if (fd < 0 || fd >= FD_SETSIZE)
                continue;
            FD_SET(fd, &ready);
            if (fd > max_fd)
                max_fd = fd;
        }

        const int n = select(max_fd + 1, &ready, nullptr, nullptr, nullptr);
        if (n < 0 && errno != EINTR && errno != EBADF) {
            std::perror("select");
            break;
        }
        if (n > 0 && wake_fd >= 0 && FD_ISSET(wake_fd, &ready))
            drain_wake(wake_fd);
        sweep_inactive(loop);
        if (n > 0 && !loop->terminate)
            dispatch_ready(loop, ready, max_fd);
        sweep_inactive(loop);
    }
    loop->running = false;
}

}  // namespace cnxd
