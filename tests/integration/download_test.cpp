// Firmware downloads end to end: cnxd-cli's download against the daemon
// and its simulated modem, seen in the transfer records the modem got, the
// image it holds and the progress lines. When the modem refuses a chunk,
// stays silent or is pulled out, the device is free afterwards: the next
// download starts and its other commands run again.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <sstream>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

constexpr uint32_t OK_END = 0xFFFFFFFE;
constexpr uint32_t FAIL_END = 0xFFFFFFFD;
constexpr size_t CHUNK = 16384;
// The daemon's bound on each answer: long enough for a test to act while
// the download waits, short enough for the rows that wait it out.
constexpr auto WAIT = 3s;

struct Image {
    size_t size;
    const char* knob;
    std::vector<uint32_t> records;  // empty: not checked
    std::vector<int> progress;
};
struct EndCase {
    const char* name;
    std::vector<const char*> knobs;  // simulator settings for this download
    size_t size;                     // the image's bytes; SIZE_MAX: no file
    size_t waits_after;              // 0, or: the download then waits on this many records
    bool remove;                     // the device is removed while it waits
    const char* reason;              // the line that says why
    bool failed;                     // it ends as "download failed"
    std::vector<uint32_t> offsets;   // of the records the modem got
};

const EndCase END_CASES[] = {
    {"CRC error at chunk 2", {"set download_crc_chunk 2"}, 3 * CHUNK, 0, false, "] CRC ERROR\n", true,
     {0, CHUNK, FAIL_END}},
    {"a slow modem's CRC error", {"set call_delay_ms 400", "set download_crc_chunk 1"}, 100, 0, false,
     "] CRC ERROR\n", true, {100, FAIL_END}},
    {"chunk 2 unanswered", {"set download_silent_chunk 2"}, 3 * CHUNK, 2, false,
     "] Firmware Donwload Response Timeout\n", true, {0, CHUNK, FAIL_END}},
    {"end record unanswered", {"set download_silent_end 1"}, 100, 2, false, "] Firmware Donwload Response Timeout\n",
     true, {100, OK_END}},
    {"removed while a chunk waits", {"set download_silent_chunk 2"}, 3 * CHUNK, 2, true, "DEVICE REMOVE", true,
     {0, CHUNK}},
    {"removed while the end record waits", {"set download_silent_end 1"}, 100, 2, true, "DEVICE REMOVE", true,
     {100, OK_END}},
    {"empty file", {}, 0, 0, false, "] Invalid download file\n", true, {FAIL_END}},
    {"no file", {}, SIZE_MAX, 0, false, "] file open fail : No such file or directory\n", false, {}},
};

// Records as {data length + 10, offset} pairs; progress in tens of percent.
const Image IMAGES[] = {
    {2 * CHUNK, "set download_early 0", {CHUNK + 10, 0, CHUNK + 10, CHUNK, 10, 2 * CHUNK, 14, OK_END}, {50, 100}},
    {2 * CHUNK + 10, "set download_early 0",
     {CHUNK + 10, 0, CHUNK + 10, CHUNK, 20, 2 * CHUNK + 10, 14, OK_END}, {50, 100}},
    {100, "set download_early 0", {110, 100, 14, OK_END}, {}},
    {20 * CHUNK, "set download_early 0", {}, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
    {2 * CHUNK, "set download_early 1", {CHUNK + 10, 0, CHUNK + 10, CHUNK, 10, 2 * CHUNK, 14, OK_END}, {50, 100}},
};

class DownloadEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
            const auto wait_ms = std::chrono::duration_cast<std::chrono::milliseconds>(WAIT).count();
        ASSERT_TRUE(daemon.start({}, {"env", "CNXD_DOWNLOAD_WAIT_MS=" + std::to_string(wait_ms)}));
        sim = std::make_unique<LtesimClient>(root);
        ASSERT_TRUE(sim->wait_online());
    }

    // The offsets of the transfer records the modem got since the last
    // clear, or their data length and offset.
    std::vector<uint32_t> offsets(bool with_length = false)
    {
        std::vector<uint32_t> out;
        for (const std::string& line : sim->calls()) {
            if (!line.starts_with("LAPI_DownloadBinary "))
                continue;
            const std::string h = line.substr(line.rfind(' ') + 1);
            if (with_length)
                out.push_back(static_cast<uint32_t>(std::stoul(h.substr(2 * 256, 8), nullptr, 16)));
            out.push_back(static_cast<uint32_t>(std::stoul(h.substr(2 * 262, 8), nullptr, 16)));
        }
        return out;
    }
    // The modem as it is by default, its call record cleared.
    void quiet_modem()
    {
        for (const char* knob : {"set download_crc_chunk 0", "set download_silent_chunk 0", "set download_silent_end 0",
                                 "set call_delay_ms 0", "set device_present 1", "clear"})
            ASSERT_EQ("ok", sim->command(knob));
    }
    // One shell command on device 1: whether it reached the modem, and what
    // the shell said.
    std::pair<bool, std::string> gdi()
    {
        const auto asked = [&] { return std::ranges::count(sim->call_names(), "LAPI_GetDeviceInformation"); };
        const auto before = asked();
        Cli cli(root, {"cmd", "gdi", "1"});
        cli.wait();
        return {asked() > before, cli.out()};
    }
    // A download of `c` that completes: the modem holds the image, got its
    // records, and the log tells the progress; the device is free again.
    void complete(const Image& c, const LogTail& log)
    {
        SCOPED_TRACE(std::to_string(c.size) + " " + c.knob);
        quiet_modem();
        ASSERT_EQ("ok", sim->command(c.knob));
        std::string image(c.size, '\0');
        for (size_t i = 0; i < c.size; ++i)
            image[i] = static_cast<char>(i * 7 + 3 + i / 251);
        root.write_file("/var/tmp/fw.bin", image);
        const size_t log_from = log.text().size();
        Cli cli(root, {"download", "1", "1", "/var/tmp/fw.bin"});
        EXPECT_EQ(0, cli.wait(WAIT + 10s)) << cli.err();
        EXPECT_TRUE(cli.out().ends_with("download complete [dev index : 1]\n")) << cli.out();
        ASSERT_EQ("ok", sim->command("sync"));
        EXPECT_EQ("ok " + std::to_string(c.size) + " " + hex(image), sim->command("image 1"));
        if (!c.records.empty()) {
            EXPECT_EQ(c.records, offsets(true));
        }
        std::string progress = "\nDownload File /var/tmp/fw.bin\n", printed;
        for (int p : c.progress)
            progress += "dev(1) " + std::to_string(p) + "%[complete]\n";
        EXPECT_TRUE(eventually([&] {
            return log.text().find("download complete [dev index : 1]\n", log_from) != std::string::npos;
        }));
        std::istringstream lines(log.text().substr(log_from));
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with("dev(1) ") || line.starts_with("Download File"))
                printed += (printed.empty() ? "\n" : "") + line + "\n";
        EXPECT_EQ(progress, printed);
        const auto [ran, said] = gdi();
        EXPECT_TRUE(ran) << said;
        EXPECT_EQ(std::string::npos, said.find("Now Firmware Downloading")) << said;
    }

    Sysroot root;
    Daemon daemon{root};
    std::unique_ptr<LtesimClient> sim;
};

TEST_F(DownloadEnd, TwoDevicesDownloadSideBySide)
{
    quiet_modem();
    ASSERT_EQ("ok", sim->command("set delay_ms 2"));
    const std::string a(5 * CHUNK + 9, 'a'), b(4 * CHUNK + 300, 'b');
    root.write_file("/var/tmp/a.bin", a);
    root.write_file("/var/tmp/b.bin", b);
    Cli one(root, {"download", "1", "1", "/var/tmp/a.bin"}), two(root, {"download", "2", "1", "/var/tmp/b.bin"});
    EXPECT_EQ(0, one.wait(WAIT + 10s)) << one.err();
    EXPECT_EQ(0, two.wait(WAIT + 10s)) << two.err();
    EXPECT_TRUE(two.out().ends_with("download complete [dev index : 2]\n")) << two.out();
    ASSERT_EQ("ok", sim->command("sync"));
    EXPECT_EQ("ok " + std::to_string(a.size()) + " " + hex(a), sim->command("image 1"));
    EXPECT_EQ("ok " + std::to_string(b.size()) + " " + hex(b), sim->command("image 2"));
}

// Each failing download is followed by one that completes (one image of
// the table after another).
TEST_F(DownloadEnd, AFailedDownloadFreesTheDeviceForTheNextDownloadAndItsCommands)
{
    const LogTail log(root);
    for (const EndCase& c : END_CASES) {
        SCOPED_TRACE(c.name);
        quiet_modem();
        for (const char* knob : c.knobs)
            ASSERT_EQ("ok", sim->command(knob));
        const std::string file = c.size == SIZE_MAX ? "/var/tmp/none.bin" : "/var/tmp/fw.bin";
        if (c.size != SIZE_MAX)
            root.write_file(file, std::string(c.size, 'f'));
        const size_t log_from = log.text().size();

        Cli failing(root, {"download", "1", "1", file});
        if (c.waits_after) {
            ASSERT_TRUE(eventually([&] { return offsets().size() == c.waits_after; }));
            const auto [ran, said] = gdi();
            EXPECT_FALSE(ran) << "the device is locked while its download runs";
            EXPECT_NE(std::string::npos, said.find("Now Firmware Downloading dev 1. Please Do Not Insert Command"));
            if (c.remove) {
                ASSERT_EQ("ok", sim->command("set device_present 0"));
            }
        }
        EXPECT_EQ(1, failing.wait(2 * WAIT + 10s)) << failing.out() << failing.err();
        const auto since = [&] { return log.text().substr(log_from); };
        const char* last = c.failed ? "download failed [dev index : 1]\n" : c.reason;
        EXPECT_TRUE(eventually([&] { return since().find(last) != std::string::npos; })) << since();
        EXPECT_NE(std::string::npos, since().find(c.reason)) << since();
        EXPECT_EQ(c.failed, since().find("download failed") != std::string::npos) << since();
        EXPECT_EQ(std::string::npos, since().find("download complete")) << "the end record's answer stays silent";
        if (c.remove) {
            EXPECT_EQ(std::string::npos, since().find("Timeout")) << "a removal ends the wait at once";
        }
        EXPECT_EQ(c.offsets, offsets());

        // Right away, with the modem as it was.
        complete(IMAGES[static_cast<size_t>(&c - END_CASES) % std::size(IMAGES)], log);
    }
    // A stop while a download waits for the modem ends the daemon at once.
    quiet_modem();
    ASSERT_EQ("ok", sim->command("set download_silent_chunk 1"));
    Cli waiting(root, {"download", "1", "1", "/var/tmp/fw.bin"});
    ASSERT_TRUE(eventually([&] { return offsets().size() == 1; }));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(0, daemon.stop(SIGTERM));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
}

}  // namespace
}  // namespace cnxd::test
