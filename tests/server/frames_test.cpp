// The server's frame dispatch without the API layer: a frame whose handler
// the wiring did not install is an unknown frame.
#include "client/inproc_daemon.h"

namespace cnxd::test {
namespace {

TEST(ServerFrames, AFrameWithoutAnInstalledHandlerIsLoggedAsUnknown)
{
    BareSysroot root;
    InprocServer server(cnxd_srv_handlers{});
    Session s = open_session(0);
    int32_t result = 0;
    EXPECT_EQ(CNXD_E_TIMEOUT, cnxd_api_request(s.get(), 0, 1, nullptr, 0, 300, &result));
    EXPECT_EQ(CNXD_OK, cnxd_send_command(s.get(), "help", 4));
    EXPECT_TRUE(eventually([] { return InprocServer::log_has("Unknown HCI (0x10a)"); }));
    EXPECT_TRUE(InprocServer::log_has("Unknown HCI (0x106)"));
}

}  // namespace
}  // namespace cnxd::test
