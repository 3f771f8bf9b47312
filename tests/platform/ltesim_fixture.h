// An open simulated SDK in a throw-away sysroot, for in-process tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/path.h"
#include "ltesdk.h"
#include "ltesim.h"

namespace cnxd::test {

class SimRoot {
public:
    explicit SimRoot(const std::string& conf = "")
    {
        char tmpl[] = "/tmp/ltesim-test-XXXXXX";
        dir_ = mkdtemp(tmpl);
        for (const char* d : {"/etc", "/var/tmp", "/var/log"})
            std::filesystem::create_directories(dir_ + d);
        std::ofstream(dir_ + "/etc/ltesim.conf") << conf;
        setenv("CNXD_ROOT", dir_.c_str(), 1);
        cnxd::cnxd_reload_root();
    }
    ~SimRoot()
    {
        std::filesystem::remove_all(dir_);
        unsetenv("CNXD_ROOT");
        cnxd::cnxd_reload_root();
    }
    std::string path(const std::string& p) const { return dir_ + p; }

private:
    std::string dir_;
};

class OpenSdk : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, LAPI_LTEAPIOpen(&handle));
        ASSERT_EQ("ok\n", ltesim::control("set delay_ms 0"));
    }
    void TearDown() override
    {
        LAPI_AllCallbackUnRegister(handle);
        EXPECT_EQ(0, LAPI_LTEAPIClose(handle));
    }
    SimRoot root;
    uint32_t handle = 0;
};

}  // namespace cnxd::test
