// A throw-away sysroot made by scripts/mkroot, with CNXD_ROOT and PATH of
// this process pointing into it, so the daemon's reads run the built confdb
// tool on the sysroot's seeded store.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/shell.h"
#include "ini.h"
#include "integration/harness.h"

namespace cnxd::test {

inline constexpr const char* kForeignTool = "the store tool is built for another machine";

class StoreSysroot {
public:
    StoreSysroot()
    {
        const char* path = std::getenv("PATH");
        old_path_ = path ? path : "";
        setenv("CNXD_ROOT", root_.dir().c_str(), 1);
        cnxd_reload_root();
        cnxd_setup_host_path();
    }
    ~StoreSysroot()
    {
        setenv("PATH", old_path_.c_str(), 1);
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
    }

    std::string path(const std::string& target) const { return root_.path(target); }
    // The whole of a file in the sysroot ("" when there is none).
    std::string read(const std::string& target) const { return root_.read_file(target); }
    void write(const std::string& target, const std::string& text) const { root_.write_file(target, text); }
    // Runs the store tool ("confdb " + args) in the sysroot; its exit code.
    int confdb(const std::string& args) const
    {
        const int status = cnxd_system("confdb " + args);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Stores a value in this process the way the tool does: "node words key".
    void set(const std::string& node_key, const std::string& value) const
    {
        std::vector<std::string> words;
        std::istringstream in(node_key);
        for (std::string w; in >> w;)
            words.push_back(w);
        const std::string key = words.back();
        words.pop_back();
        std::string error;
        ASSERT_EQ(0, confdb::store_set(words, key, value, error)) << error;
    }

    // True when the built tool is a foreign program this host cannot run (a
    // cross build tested under an emulator): the tests that need the tool
    // skip then. A tool that is missing or broken still fails them.
    bool tool_is_foreign() const
    {
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            execl(path("/bin/confdb").c_str(), "confdb", static_cast<char*>(nullptr));
            _exit(errno == ENOEXEC ? kForeignExit : 127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == kForeignExit;
    }

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
    static constexpr int kForeignExit = 126;

    Sysroot root_;
    std::string old_path_;
};

// A test of the daemon's reads against the sysroot's store: skipped where
// the tool cannot run here; every read, successful or not, removes its dump.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (root.tool_is_foreign())
            GTEST_SKIP() << kForeignTool;
    }
    void TearDown() override { EXPECT_EQ(std::vector<std::string>{}, root.dumps_left()); }

    StoreSysroot root;
};

}  // namespace cnxd::test
