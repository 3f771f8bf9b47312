// The mailbox pool of the DHCP managers: 10 mailboxes, each a FIFO of ints,
// two per sid slot (mq_init_all in net/dhcpcd.h). Only this folder includes
// it.
#pragma once

#include <array>

#include "net/dhcpcd.h"

namespace cnxd {

// (response mailbox, request mailbox) of each sid; -1 for none. Written
// by mq_init_all and mq_close_all under the pool lock; mq_pair reads it.
extern int mq_id[DHCP_MAX_SID][2];
constexpr int MQ_RSP = 0;
constexpr int MQ_REQ = 1;

// The pair of `sid`; {-1, -1} for a sid outside 0..7.
std::array<int, 2> mq_pair(int sid);
int mq_alloc();
// Posts `value`; 0, or -1 for an invalid or unused mailbox.
int mq_send(int id, int value);
// Waits for and takes the next value; -1 for an invalid mailbox, or once
// the pool is closed and the mailbox empty.
int mq_recv(int id);
// Closes the pool for shutdown: every waiting receiver returns and no slot
// has a pair any more. mq_init_all opens it again.
void mq_close_all();

}  // namespace cnxd
