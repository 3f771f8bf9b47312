// The mailbox pool of the DHCP managers: 10 mailboxes, each a FIFO of ints.
//
// The pool lock (msg_q_lock) guards the used flags and mq_id. Each
// mailbox's own lock guards its list together with its condition variable,
// so a message posted between a receiver's emptiness check and its wait is
// never missed. The pool lock is never held while waiting or signalling: a
// send to one mailbox holds up no other mailbox's receiver.
#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "net/mailbox.h"

namespace cnxd {

int mq_id[DHCP_MAX_SID][2] = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1},
                              {-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}};

namespace {

constexpr int MQ_POOL_SIZE = 10;

struct mailbox {
    bool used = false;  // guarded by msg_q_lock
    std::mutex lock;
    std::condition_variable cond;
    std::deque<int> msgs;  // guarded by lock
    bool closed = false;   // guarded by lock: receivers stop waiting
};

std::mutex msg_q_lock;
std::array<mailbox, MQ_POOL_SIZE> msg_q_hdr;

bool valid_id(int id) { return id >= 0 && id < MQ_POOL_SIZE; }

int mq_alloc_locked()
{
    for (int id = 0; id < MQ_POOL_SIZE; ++id) {
        if (!msg_q_hdr[id].used) {
            msg_q_hdr[id].used = true;
            return id;
        }
    }
    return -1;
}

}  // namespace

int mq_init_all()
{
    std::lock_guard pool(msg_q_lock);
    for (mailbox& box : msg_q_hdr) {
        box.used = false;
        std::lock_guard own(box.lock);
        box.msgs.clear();
        box.closed = false;
    }
    // Two per slot in slot order: with 10 mailboxes slots 0 to 4 get a
    // pair and slots 5 to 7 none (-1).
    for (auto& pair : mq_id) {
        pair[0] = mq_alloc_locked();
        pair[1] = mq_alloc_locked();
    }
    return 0;
}

std::array<int, 2> mq_pair(int sid)
{
    if (sid < 0 || sid >= DHCP_MAX_SID)
        return {-1, -1};
    std::lock_guard pool(msg_q_lock);
    return {mq_id[sid][MQ_RSP], mq_id[sid][MQ_REQ]};
}

int mq_alloc()
{
    std::lock_guard pool(msg_q_lock);
    return mq_alloc_locked();
}

int mq_send(int id, int value)
{
    if (!valid_id(id))
        return -1;
    {
        std::lock_guard pool(msg_q_lock);
        if (!msg_q_hdr[id].used)
            return -1;
    }
    mailbox& box = msg_q_hdr[id];
    {
        std::lock_guard own(box.lock);
        box.msgs.push_back(value);
    }
    box.cond.notify_one();
    return 0;
}

int mq_recv(int id)
{
    if (!valid_id(id))
        return -1;
    mailbox& box = msg_q_hdr[id];
    std::unique_lock own(box.lock);
    box.cond.wait(own, [&] { return !box.msgs.empty() || box.closed; });
    if (box.msgs.empty())
        return -1;
    const int value = box.msgs.front();
    box.msgs.pop_front();
    return value;
}

void mq_close_all()
{
    {
        std::lock_guard pool(msg_q_lock);
        for (auto& pair : mq_id)
            pair[MQ_RSP] = pair[MQ_REQ] = -1;
    }
    for (mailbox& box : msg_q_hdr) {
        {
            std::lock_guard own(box.lock);
            box.closed = true;
        }
        box.cond.notify_all();
    }
}

}  // namespace cnxd
