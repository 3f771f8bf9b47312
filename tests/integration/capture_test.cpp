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

// tshark's one-line summaries (the Info column) of a capture; one string per
// block, in order.
std::vector<std::string> summaries(const std::string& file)
{
    const std::string cmd = "tshark -X lua_script:" CNXD_BUILD_DIR "/cnxd.lua -r " + file +
                            " -T fields -e _ws.col.Info 2>/dev/null";
    std::vector<std::string> out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char line[4096];
        while (std::fgets(line, sizeof line, p)) {
            std::string s(line);
            if (!s.empty() && s.back() == '\n')
                s.pop_back();
            out.push_back(s);
        }
        pclose(p);
    }
    return out;
}

size_t count_with(const std::vector<std::string>& lines, const std::string& text)
{
    size_t n = 0;
    for (const auto& l : lines)
        n += l.find(text) != std::string::npos;
    return n;
}

class Capture : public ::testing::Test {
protected:
    void start()
    {
        file_ = root_.path("/var/tmp/cnxd.pcapng");
        ASSERT_TRUE(daemon_.start({}, {"env", "CNXD_CAPTURE=" + file_}));
    }
    Sysroot root_;
    Daemon daemon_{root_};
    std::string file_;
};

TEST_F(Capture, ASessionReadsBackByName)
{
    start();
    LtesimClient sim(root_);
    ASSERT_TRUE(sim.wait_online());
    {
        RawClient client(root_, "capture");
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
        ASSERT_TRUE(daemon_.wait_for_log("request disconnection"));
    }
    ASSERT_EQ(daemon_.stop(SIGTERM), 0);

    const auto lines = summaries(file_);
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
    std::ostringstream all;
    for (const auto& l : lines)
        all << l << "\n";
    for (const char* text : expected)
        EXPECT_GE(count_with(lines, text), 1u) << text << " not in\n" << all.str();
    EXPECT_EQ(count_with(lines, "records dropped"), 0u);
}

TEST_F(Capture, TenThousandRequestsLoseNoBlock)
{
    start();
    LtesimClient sim(root_);
    ASSERT_TRUE(sim.wait_online());
    constexpr int REQUESTS = 10000;
    {
        RawClient client(root_, "many");
        ASSERT_TRUE(client.open());
        for (int i = 0; i < REQUESTS; ++i)
            ASSERT_TRUE(client.api_request(GET_DEVICE_INFORMATION, 1, {})) << i;
    }
    ASSERT_EQ(daemon_.stop(SIGTERM, 2s), 0);
    const auto lines = summaries(file_);
    EXPECT_EQ(count_with(lines, "HCI_API_REQUEST LAPI_GetDeviceInformation"), size_t{REQUESTS});
    EXPECT_EQ(count_with(lines, "LAPI_GetDeviceInformation dev 1 -> 0"), size_t{REQUESTS});
    EXPECT_EQ(count_with(lines, "records dropped"), 0u);
}

}  // namespace
}  // namespace cnxd::test
