// Random and truncated requests handed straight to the request dispatcher,
// each in a buffer of exactly its size, with the SDK closed (each call still
// reads its arguments as the SDK would): under the sanitizers a read past
// the received bytes fails. Whatever a request holds, it ends with exactly
// one completion.
#include <sys/sem.h>

#include <random>

#include "api/cnxd_handler.h"
#include "client/inproc_daemon.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

class RandomRequests : public ::testing::Test {
protected:
    void SetUp() override
    {
        session = open_session(0);
        ASSERT_TRUE(session);
        daemon.stop_loop();  // the test thread serves the client itself
        client = &cnxd_client[cnxd_index(session.get())];
        for (unsigned id = 0; id <= 0xffff; ++id)
            if (api_cmd_name(static_cast<uint16_t>(id)))
                commands.push_back(static_cast<uint16_t>(id));
    }

    // Serves `payload`, then takes the completion as the client would.
    void serve(const Bytes& payload)
    {
        ASSERT_EQ(0, cnxd_handler(client, payload));
        ASSERT_EQ(0, semctl(client->semid, SEM_BUSY, GETVAL));
        sembuf take{SEM_DONE, -1, IPC_NOWAIT};
        ASSERT_EQ(0, semop(client->semid, &take, 1)) << "no completion";
        ASSERT_EQ(0, semctl(client->semid, SEM_DONE, GETVAL)) << "more than one completion";
    }

    InprocDaemon daemon;
    Session session;
    cnxd_client_rec* client = nullptr;
    std::vector<uint16_t> commands;
};

TEST_F(RandomRequests, NeverFaultAndAlwaysCompleteOnce)
{
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
    for (int i = 0; i < 4000 && !HasFatalFailure(); ++i) {
        // Mostly listed commands, some ids that are not.
        const uint16_t cmd = pick(0, 3) ? commands[pick(0, static_cast<uint32_t>(commands.size() - 1))]
                                        : static_cast<uint16_t>(pick(0, 0xffff));
        const size_t data_len = pick(0, 1) ? pick(0, 16) : pick(0, HCI_MAX_FRAME - HCI_HEADER_LEN - API_REQ_DATA);
        Bytes payload(API_REQ_DATA + data_len);
        for (uint8_t& b : payload)
            b = static_cast<uint8_t>(pick(0, 255));
        store_be16(payload.data(), cmd);
        // A request length that fits, or any 16-bit value.
        store_be16(payload.data() + API_REQ_LEN, static_cast<uint16_t>(pick(0, 1) ? 4 + data_len : pick(0, 0xffff)));
        if (pick(0, 3) == 0)  // truncated anywhere, the header included
            payload.resize(pick(0, static_cast<uint32_t>(payload.size())));
        serve(payload);
    }
    // Every command cut inside its header or first words.
    for (uint16_t cmd : commands) {
        for (size_t n = 0; n <= API_REQ_DATA + 4 && !HasFatalFailure(); ++n) {
            Bytes payload(n, 0xff);
            if (n >= 2)
                store_be16(payload.data(), cmd);
            serve(payload);
        }
    }
}

}  // namespace
}  // namespace cnxd::test
