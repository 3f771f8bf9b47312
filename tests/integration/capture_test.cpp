// The traffic capture as an engineer reads it: a session captured with
// CNXD_CAPTURE and read back by tshark through the generated dissector.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sstream>

#include "integration/harness.h"
#include "server/hci.h"

namespace cnxd::test {
namespace {

constexpr uint16_t GET_DEVICE_INFORMATION = 3;

TEST(Capture, ASessionReadsBackByName)
{
    Sysroot root;
    Daemon daemon(root);
    const std::string file = root.path("/var/tmp/cnxd.pcapng");
    ASSERT_TRUE(daemon.start({}, {"env", "CNXD_CAPTURE=" + file}));
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    {
        RawClient client(root, "capture");
        ASSERT_TRUE(client.open({{0, 1234}}));
        // The help text is more datagrams than an unconnected receive queue
        // holds, and this client reads none of them.
        ASSERT_TRUE(client.connect_to_daemon());
        client.subscribe_all();
        client.set_word(0, 1);  // listening for log text
        ASSERT_TRUE(client.api_request(GET_DEVICE_INFORMATION, 1, {}));
        EXPECT_EQ(sim.command("inject 47 1 00000003"), "ok");
        ASSERT_TRUE(client.send(hci_frame(HCI_CLI_COMMAND, Bytes{'h', 'e', 'l', 'p'})));
        // Frames are served in order: the answer to a second request means
        // the line has been run.
        ASSERT_TRUE(client.api_request(GET_DEVICE_INFORMATION, 1, {}));
        ASSERT_TRUE(client.send(hci_frame(HCI_API_CLOSE, {})));
        ASSERT_TRUE(daemon.wait_for_log("request disconnection"));
    }
    ASSERT_EQ(daemon.stop(SIGTERM), 0);

    const auto lines = capture_summaries(file);
    const char* expected[] = {
        "frame from client 255: HCI_API_OPEN",
        "frame to client 0: HCI_API_OPEN_RSP",
        "HCI_API_REQUEST LAPI_GetDeviceInformation",
        "LAPI_GetDeviceInformation dev 1 -> 0",
        "indication dev 1 ind_nas_emm_status_indication",
        "HCI_SDK_CALLBACK NAS EMM STATUS INDICATION",
        "shell line: help",
        "HCI_LOG",
        "HCI_API_CLOSE",
    };
    std::string all;
    for (const auto& l : lines)
        all += l + "\n";
    for (const char* text : expected)
        EXPECT_NE(std::string::npos, all.find(text)) << text << " not in\n" << all;
    EXPECT_EQ(std::string::npos, all.find("records dropped"));
}

}  // namespace
}  // namespace cnxd::test
