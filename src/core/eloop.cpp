#include "core/eloop.h"

#include <sys/select.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace cnxd {

eloop_data eloop;

namespace {

eloop_sock* sock_of(list_head* link) { return reinterpret_cast<eloop_sock*>(link); }

// Step 4 of a pass: call the handler of every ready active socket. The next
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

// Step 5: unlink every record released since the last sweep, during the
// walk or by another thread; only now may its owner reuse it.
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

}  // namespace

void eloop_init(eloop_data* loop)
{
    list_init(&loop->sockets);
    loop->terminate = 0;
}

int eloop_register_sock(eloop_data* loop, eloop_sock* s)
{
    list_init(&s->link);
    s->active = 1;
    list_add_tail(&s->link, &loop->sockets);
    return 0;
}

void eloop_unregister_sock(eloop_data* loop, eloop_sock* s)
{
    s->active = 0;
    if (loop->running)
        return;
    list_del_init(&s->link);
    s->used = 0;
}

void eloop_terminate(eloop_data* loop) { loop->terminate = 1; }

void eloop_run(eloop_data* loop, const sigset_t* wait_mask)
{
    loop->running = true;
    while (!loop->terminate && !list_empty(&loop->sockets)) {
        fd_set ready;
        FD_ZERO(&ready);
        int max_fd = 0;
        list_head* head = &loop->sockets;
        for (list_head* link = head->next; link != head; link = link->next) {
            const int fd = sock_of(link)->sock;
            if (fd < 0 || fd >= FD_SETSIZE)
                continue;
            FD_SET(fd, &ready);
            if (fd > max_fd)
                max_fd = fd;
        }

        const int n = pselect(max_fd + 1, &ready, nullptr, nullptr, nullptr, wait_mask);
        if (n < 0 && errno != EINTR && errno != EBADF) {
            std::perror("select");
            break;
        }
        if (n > 0)
            dispatch_ready(loop, ready, max_fd);
        sweep_inactive(loop);
    }
    loop->running = false;
}

}  // namespace cnxd
