// The event loop: dispatch of ready sockets, releasing records inside a
// handler walk, and the ways out of eloop_run (releases and the stop from
// other threads are checked with the client table and the daemon).
#include "core/eloop.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "base/fd.h"

namespace cnxd {
namespace {

eloop_data loop;

// A socket pair whose first end the loop serves with `handler`, made
// readable when `ready`; `es` comes first so that handlers can cast back.
struct Owner {
    eloop_sock es;
    UniqueFd ours, theirs;
    int calls = 0;

    Owner(eloop_sock_handler handler, bool ready)
    {
        int sv[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM, 0, sv));
        ours.reset(sv[0]);
        theirs.reset(sv[1]);
        es.sock = ours.get();
        es.handler = handler;
        es.used = 1;
        eloop_register_sock(&loop, &es);
        if (ready) {
            EXPECT_EQ(1, write(theirs.get(), "x", 1));
        }
    }
};

std::vector<Owner*> g_owners;

int drain(eloop_sock* s)
{
    char buf[16];
    EXPECT_EQ(1, read(s->sock, buf, sizeof buf));
    ++reinterpret_cast<Owner*>(s)->calls;
    return 0;
}

// Drops every owner of g_owners, itself included, as a client handler does
// for clients found gone.
int drop_everyone(eloop_sock* s)
{
    drain(s);
    for (Owner* o : g_owners) {
        o->es.active = 0;
        o->ours.reset();
    }
    return 0;
}

int stop_loop(eloop_sock* s)
{
    drain(s);
    eloop_terminate(&loop);
    return 0;
}

// The record after the running handler's, released by that handler: the
// walk goes on past it (it stays listed until the sweep) instead of
// following the link of a record already taken out.
int release_next(eloop_sock* s)
{
    drain(s);
    eloop_unregister_sock(&loop, reinterpret_cast<eloop_sock*>(s->link.next));
    return 0;
}

TEST(EventLoop, RecordsDroppedDuringTheWalkAreSweptAndAnEmptyLoopReturns)
{
    eloop_init(&loop);
    Owner a(drop_everyone, true), b(drain, true);  // b is ready too, but a drops it first
    g_owners = {&a, &b};
    eloop_run(&loop);  // returns because no socket is left
    g_owners.clear();
    EXPECT_EQ(1, a.calls);
    EXPECT_EQ(0, b.calls) << "a dropped record is not called";
    EXPECT_TRUE(list_empty(&loop.sockets));
    EXPECT_EQ(0u, a.es.used);
    EXPECT_EQ(0u, b.es.used);
}

TEST(EventLoop, ReleasesDuringTheRunWaitForTheSweepAndOutsideItUnlinkAtOnce)
{
    eloop_init(&loop);
    Owner a(release_next, true), b(drain, true), c(stop_loop, true), d(drain, false);
    eloop_run(&loop);
    EXPECT_EQ(1, a.calls);
    EXPECT_EQ(0, b.calls) << "released before the walk reached it";
    EXPECT_EQ(1, c.calls) << "the walk went on past the released record";
    EXPECT_EQ(0, d.calls) << "not readable";
    EXPECT_EQ(0u, b.es.used) << "swept";
    EXPECT_EQ(&a.es.link, loop.sockets.next);
    EXPECT_EQ(&c.es.link, a.es.link.next);

    eloop_unregister_sock(&loop, &a.es);
    EXPECT_EQ(0u, a.es.used) << "no loop runs: unlinked at once";
    EXPECT_EQ(&c.es.link, loop.sockets.next);
    EXPECT_EQ(&d.es.link, loop.sockets.prev);
}

}  // namespace
}  // namespace cnxd
