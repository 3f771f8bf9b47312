// The command shell's file words under a sysroot, end to end: a file
// outside the sysroot is never opened through any word that opens files,
// whatever form its path takes (absolute, relative, "..", links), while
// the same path names the sysroot's own file, which the word opens.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

namespace fs = std::filesystem;

// The opens of the file `name` in the directory `dir`, seen through inotify.
class Opens {
public:
    Opens(const std::string& dir, std::string name) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), name_(std::move(name))
    {
        inotify_add_watch(fd_, dir.c_str(), IN_OPEN);
    }
    ~Opens() { close(fd_); }
    Opens(const Opens&) = delete;
    Opens& operator=(const Opens&) = delete;

    // How many times it was opened so far.
    int count()
    {
        alignas(inotify_event) char buf[4096];
        for (ssize_t n; (n = read(fd_, buf, sizeof buf)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                count_ += e->len > 0 && name_ == e->name;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        return count_;
    }

private:
    int fd_;
    std::string name_;
    int count_ = 0;
};

// The shared directory of the marker files: a host directory outside the
// sysroot holding "marker" (and the parameter file), and its twin at the
// same path inside the sysroot.
class SysrootEscape : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/cnxd-outside.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        outside_ = tmpl;
        twin_ = root.path(outside_);
        fs::create_directories(twin_);
        for (const std::string& dir : {outside_, twin_}) {
            const std::string side = dir == outside_ ? "outside" : "inside";
            std::ofstream(dir + "/marker") << side << "-line\n";
            std::ofstream(dir + "/pdn_connect.param") << "optional_info=1\napn_name=" << side << "\npdn_type=0\n";
        }
        // Links inside the sysroot that point at the marker's path.
        fs::create_symlink(outside_ + "/marker", root.path("/var/tmp/to-marker"));
        fs::create_symlink("../../../../../../../.." + outside_, root.path("/var/tmp/up-to-dir"));
        std::ofstream(root.path("/proc/mtd"), std::ios::app) << "mtd7: 00080000 00010000 \"escape\"\n";
    }
    void TearDown() override
    {
        if (daemon.running()) {
            EXPECT_EQ(0, daemon.stop(SIGTERM));
        }
        fs::remove_all(outside_);
    }

    // The forms of one path to the marker's directory `dir` (a trailing
    // name is added by the caller); `from_dev` for link targets in /dev.
    std::vector<std::pair<const char*, std::string>> forms(bool from_dev) const
    {
        std::vector<std::pair<const char*, std::string>> f = {
            {"absolute", outside_},
            {"climbing absolute", "/var/tmp/../../../../../../.." + outside_},
            {"climbing relative", "../../../../../../../.." + outside_},
            {"through a relative link that climbs", "/var/tmp/up-to-dir"},
        };
        if (!from_dev)
            f.emplace_back("relative", outside_.substr(1));
        return f;
    }

    Sysroot root;
    Daemon daemon{root};
    std::string outside_;
    std::string twin_;
};

TEST_F(SysrootEscape, ShellWordsOpenTheSysrootsFileNeverTheHosts)
{
    ASSERT_TRUE(daemon.start());
    Opens outside(outside_, "marker");
    Opens inside(twin_, "marker");
    TcpShell shell(daemon.cmd_port());
    // The words that take a path, and the words whose device (a link in
    // the sysroot's /dev) names it.
    // ("x tty" takes a relative name from /dev.)
    const std::vector<std::string> path_words = {"senddmfile %", "x sha256 %", "x tty % 9600"};
    const std::vector<std::pair<std::string, std::string>> device_words = {{"/dev/mem", "x mem vm 0 4"},
                                                                           {"/dev/mtd7", "x mtdt mtd7 0 0 1 1"}};
    int opened = 0;
    const auto run = [&](const std::string& line) {
        SCOPED_TRACE(line);
        shell.send_line(line);
        EXPECT_TRUE(eventually([&] { return inside.count() > opened; })) << "the sysroot's file is opened";
        opened = inside.count();
        EXPECT_EQ(0, outside.count()) << "the host's file is not";
    };
    for (const auto& [form, dir] : forms(false))
        for (std::string word : path_words) {
            SCOPED_TRACE(form);
            if (word.starts_with("x tty") && !dir.starts_with('/') && !dir.starts_with(".."))
                continue;
            run(word.replace(word.find('%'), 1, dir + "/marker"));
        }
    for (const auto& [form, dir] : forms(true))
        for (const auto& [device, word] : device_words) {
            SCOPED_TRACE(form);
            fs::remove(root.path(device));
            fs::create_symlink(dir + "/marker", root.path(device));
            run(word);
        }
    // A link to the marker itself, with an absolute target; a link to itself.
    run("senddmfile /var/tmp/to-marker");
    fs::create_symlink("/var/tmp/self", root.path("/var/tmp/self"));
    shell.send_line("x sha256 /var/tmp/self");
    EXPECT_TRUE(daemon.wait_for_log("open(/var/tmp/self) fail")) << "links that never end name no file";
    EXPECT_EQ(0, daemon.count_in_log("outside-line")) << "no line of the host's file reached the modem";
}

// The parameter directory (LTE_PARAM_DIR) and the capture file
// (CNXD_CAPTURE).
TEST_F(SysrootEscape, FilesTheEnvironmentNamesStayInTheSysroot)
{
    Opens outside(outside_, "pdn_connect.param");
    Opens inside(twin_, "pdn_connect.param");
    int opened = 0;
    for (const auto& [form, dir] : forms(false)) {
        SCOPED_TRACE(form);
        fs::remove(root.path("/daemon.log"));  // the next start waits for its own output
        ASSERT_TRUE(daemon.start({}, {"env", "LTE_PARAM_DIR=" + dir, "CNXD_CAPTURE=" + dir + "/cnxd.pcapng"}));
        TcpShell(daemon.cmd_port()).send_line("pc 1 x 0");
        EXPECT_TRUE(eventually([&] { return inside.count() > opened; }));
        opened = inside.count();
        EXPECT_EQ(0, outside.count());
        EXPECT_EQ(0, daemon.stop(SIGTERM));
        EXPECT_TRUE(fs::remove(twin_ + "/cnxd.pcapng"));
        EXPECT_FALSE(fs::exists(outside_ + "/cnxd.pcapng"));
    }
}

}  // namespace
}  // namespace cnxd::test
