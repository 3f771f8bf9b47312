// A sysroot with the DM log directory, CNXD_ROOT naming it and the log
// paths set, for the tests of dm.log and the report printers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/path.h"
#include "dm/log_paths.h"

namespace cnxd::test {

class DmSysroot : public testing::Test {
protected:
    void SetUp() override
    {
        root_ = testing::TempDir() + "cnxd_dm_" + std::to_string(getpid());
        std::filesystem::create_directories(root_ + "/var/lte/dm_log");
        setenv("CNXD_ROOT", root_.c_str(), 1);
        cnxd_reload_root();
        set_log_file_paths();
    }
    void TearDown() override
    {
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
        std::filesystem::remove_all(root_);
    }
    std::string path() const { return root_ + "/var/lte/dm_log/dm.log"; }
    std::string content() const
    {
        std::ifstream in(path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string root_;
};

}  // namespace cnxd::test
