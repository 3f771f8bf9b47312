// Random and truncated API requests against the dispatcher. Run under the
// sanitizers, a read past the received bytes (each request lives in a
// buffer of exactly its size) or any other memory fault fails the test;
// every request, whatever it holds, must end with exactly one completion.
// The SDK stays closed: each call still reads its arguments as the SDK
// would, and the modem model does not run.
#include <sys/sem.h>

#include <random>
#include <vector>

#include "client/inproc_daemon.h"
#include "server/cnxd_handler.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

class RandomRequests : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = open_session(0);
        ASSERT_TRUE(session);
        daemon.stop_loop();
        client = &cnxd_client[cnxd_index(session.get())];
        for (unsigned id = 0; id <= 0xffff; ++id)
            if (api_cmd_name(static_cast<uint16_t>(id)))
                commands.push_back(static_cast<uint16_t>(id));
    }

    // Serves `payload` and checks the client's semaphores afterwards: not
    // busy, one completion, which we take as the client would.
    void serve(const Bytes& payload)
    {
        ASSERT_EQ(0, cnxd_handler(client, payload));
        ASSERT_EQ(0, semctl(client->semid, SEM_BUSY, GETVAL));
        ASSERT_EQ(1, semctl(client->semid, SEM_DONE, GETVAL));
        sembuf take{SEM_DONE, -1, IPC_NOWAIT};
        ASSERT_EQ(0, semop(client->semid, &take, 1));
    }

    InprocDaemon daemon;
    Session session;
    cnxd_client_rec* client = nullptr;
    std::vector<uint16_t> commands;
};

TEST_F(RandomRequests, NeverFaultAndAlwaysComplete)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };

    for (int i = 0; i < 4000; ++i) {
        // Mostly listed commands, some ids that are not.
        const uint16_t cmd = pick(0, 3) ? commands[pick(0, static_cast<uint32_t>(commands.size() - 1))]
                                        : static_cast<uint16_t>(pick(0, 0xffff));
        const size_t data_len = pick(0, 1) ? pick(0, 16) : pick(0, HCI_MAX_FRAME - HCI_HEADER_LEN - API_REQ_DATA);
        Bytes payload(API_REQ_DATA + data_len);
        for (uint8_t& b : payload)
            b = static_cast<uint8_t>(pick(0, 255));
        store_be16(payload.data(), cmd);
        // A request length that fits, or any 16-bit value.
        store_be16(payload.data() + API_REQ_LEN,
                   static_cast<uint16_t>(pick(0, 1) ? 4 + data_len : pick(0, 0xffff)));
        // Truncated anywhere, the header included.
        if (pick(0, 3) == 0)
            payload.resize(pick(0, static_cast<uint32_t>(payload.size())));
        serve(payload);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(RandomRequests, EveryCommandWithEveryShortLength)
{
    // Each listed command with 0 to 12 bytes of payload: the request cut
    // inside its header, its index word and its first data words.
    for (uint16_t cmd : commands) {
        for (size_t n = 0; n <= API_REQ_DATA + 4; ++n) {
            Bytes payload(n, 0xff);
            if (n >= 2)
                store_be16(payload.data(), cmd);
            serve(payload);
            if (HasFatalFailure())
                return;
        }
    }
}

}  // namespace
}  // namespace cnxd::test
