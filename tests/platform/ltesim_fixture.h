// A throw-away sysroot (CNXD_ROOT) with the simulated modem's boot-time
// file, for in-process tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/path.h"
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

}  // namespace cnxd::test
