// The state socket as cnxd-cli shows it: a client's identity, pid,
// subscriptions, log listening and served requests, and the devices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <thread>

#include "integration/harness.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

constexpr uint16_t EMM_STATUS_EVENT = 115;

// A daemon with its modem on line.
class StateSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(daemon.start());
        sim.emplace(root);
        ASSERT_TRUE(sim->wait_online());
    }
    Sysroot root;
    Daemon daemon{root};
    std::optional<LtesimClient> sim;
};

TEST_F(StateSocket, ShowsEachClientAndDeviceAsJsonAndAsTables)
{
    RawClient client(root, "watched");
    ASSERT_TRUE(client.open({{0x42, 99}}));
    client.set_word(0, 1);
    client.set_word(subscription_word(EMM_STATUS_EVENT), 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(client.api_request(3, 1, {}));

    Cli json(root, {"inspect", "--json"});
    ASSERT_EQ(json.wait(), 0) << json.err();
    const std::string doc = json.out();
    for (const char* member :
         {"\"identity\":66,\"pid\":99,\"events\":[\"NAS EMM STATUS INDICATION\"],\"log\":true,\"served\":3,"
          "\"in_flight\":null",
          "\"devices\":[{\"index\":1,\"init_complete\":", "\"watchdog\":{", "\"dhcp\":[]"})
        EXPECT_NE(doc.find(member), std::string::npos) << member << " not in " << doc;

    Cli tables(root, {"inspect"});
    ASSERT_EQ(tables.wait(), 0) << tables.err();
    const std::string out = tables.out();
    for (const char* text : {"Clients", "66", "NAS EMM STATUS INDICATION", "Devices", "Watchdog", "DHCP"})
        EXPECT_NE(out.find(text), std::string::npos) << text << " not in " << out;
}

// A request the modem is slow to answer shows as in flight, by name and
// age, in a document that a JSON parser takes.
TEST_F(StateSocket, ShowsTheRequestInFlightWhileTheModemTakesItsTime)
{
    RawClient client(root, "slow");
    ASSERT_TRUE(client.open({{0x43, 7}}));
    ASSERT_EQ("ok", sim->command("set call_delay_ms 1500"));
    std::thread request([&] { EXPECT_TRUE(client.api_request(3, 1, {})); });

    std::string doc;
    EXPECT_TRUE(eventually([&] {
        Cli json(root, {"inspect", "--json"});
        doc = json.wait() == 0 ? json.out() : "";
        return doc.find("\"in_flight\":{\"command\":3,") != std::string::npos;
    })) << doc;
    request.join();
    root.write_file("/var/tmp/state.json", doc);
    const std::string check =
        "python3 -c 'import json,sys; json.load(open(sys.argv[1]))' " + root.path("/var/tmp/state.json");
    EXPECT_EQ(0, std::system(check.c_str())) << doc;
}

}  // namespace
}  // namespace cnxd::test
