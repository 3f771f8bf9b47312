// A throw-away sysroot made by scripts/mkroot for the tests of the store,
// with CNXD_ROOT and PATH of this process pointing into it, so the daemon's
// reads run the built confdb tool on the sysroot's seeded store.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/shell.h"

namespace cnxd::test {

// The build directory: the test binaries live in its tests/ directory.
inline std::string build_dir()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path().string();
}

class StoreSysroot {
public:
    StoreSysroot()
    {
        char tmpl[] = "/tmp/cnxd-cfg.XXXXXX";
        dir_ = mkdtemp(tmpl);
        const std::string cmd = std::string(CNXD_SOURCE_DIR) + "/scripts/mkroot " + dir_ + " " + build_dir();
        if (std::system(cmd.c_str()) != 0)
            std::abort();
        const char* path = std::getenv("PATH");
        old_path_ = path ? path : "";
        setenv("CNXD_ROOT", dir_.c_str(), 1);
        cnxd_reload_root();
        cnxd_setup_host_path();
    }
    ~StoreSysroot()
    {
        setenv("PATH", old_path_.c_str(), 1);
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    StoreSysroot(const StoreSysroot&) = delete;
    StoreSysroot& operator=(const StoreSysroot&) = delete;

    std::string path(const std::string& target) const { return dir_ + target; }

    // Runs the store tool ("confdb " + args) in the sysroot; its exit code.
    int confdb(const std::string& args) const
    {
        const int status = cnxd_system("confdb " + args);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void set(const std::string& node_key_value) const { ASSERT_EQ(0, confdb("set " + node_key_value)); }

    std::string read(const std::string& target) const
    {
        std::ifstream in(path(target));
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void write(const std::string& target, const std::string& text) const { std::ofstream(path(target)) << text; }

    // The configuration dumps left in var/tmp.
    std::vector<std::string> dumps_left() const
    {
        std::vector<std::string> left;
        for (const auto& e : std::filesystem::directory_iterator(path("/var/tmp")))
            if (e.path().filename().string().starts_with("confdb_"))
                left.push_back(e.path().filename().string());
        return left;
    }

private:
    std::string dir_;
    std::string old_path_;
};

}  // namespace cnxd::test
