// The connection keeper end to end: the store's autoconnect settings, the
// simulated modem dropping, detaching, resetting or refusing, the shell's
// own requests, and what follows in the modem's call record, the log and
// the state document.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sstream>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

struct KeeperCase {
    const char* name;
    const char* autoconnect;  // "KEY VALUE" pairs of the store node, comma-separated
    const char* event;        // once on line (and kept): "sim LINE" or "shell LINE", semicolon-separated
    int watch_ms;             // then the calls are watched this long, or up to a modem reset
    const char* then;         // "sim LINE" or "shell LINE" after the watch
    // The whole record's attach, detach, PDN connect and reset calls, in order.
    const char* calls;
    const char* gaps_s;  // seconds between the watched calls, as polling sees them ("": not looked at)
    const char* log;     // a decision line
    const char* state;   // the keeper's state at the end
};

constexpr const char* kOn = "ENABLE 1,pdn_labels 0,first_wait 1,longest_wait 2,reset_after 3";

const KeeperCase keeper_cases[] = {
    {"FreshStartKeepsInternetAndImsUp", "ENABLE 1,pdn_labels '0 1',first_wait 1", "", 0, "", "Attach PDNConn", "",
     "DEV_IDX(1) PDN label 1 not up: connect (failures in a row 0", "up"},
    {"InterfaceReleaseIsAskedForAgain", kOn, "sim pdn down 0", 1000, "", "Attach PDNConn", "",
     "DEV_IDX(1) PDN label 0 not up: connect", "up"},
    {"NetworkDetachIsAttachedAgain", kOn, "sim pdn detach", 1000, "", "Attach Attach", "", "connection up", "up"},
    {"ModemResetIsAttachedOnceOnLine", kOn, "shell reset 1", 3000, "", "Attach DeviceReset Attach", "",
     "connection up", "up"},
    {"RefusedAttachWaitsLongerThenResetsTheModem", kOn, "sim set attach_result 7;sim pdn detach", 9000,
     "sim set attach_result 0", "Attach Attach Attach Attach DeviceReset Attach", "1 2 2",
     "3 failures in a row: modem reset", "up"},
    {"ShellDetachStandsTheKeeperDownUntilAnAttach", kOn, "shell dt 1 0", 2500, "shell at 1", "Attach Detach Attach",
     "", "stood down by a client or the shell", "up"},
    {"OffSendsNothing", "ENABLE 0,first_wait 1", "", 2500, "", "", "", "", "off"},
};

void PrintTo(const KeeperCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; std::getline(in, w, sep);)
        if (!w.empty())
            out.push_back(w);
    return out;
}

// The record's attach, detach, PDN connect and reset calls, in order, named
// without "LAPI_" and "Request".
std::string connection_calls(LtesimClient& sim)
{
    std::string out;
    for (std::string n : sim.call_names())
        if (n == "LAPI_AttachRequest" || n == "LAPI_DetachRequest" || n == "LAPI_PDNConnRequest" ||
            n == "LAPI_DeviceReset")
            out += (out.empty() ? "" : " ") + n.substr(5, n.ends_with("Request") ? n.size() - 12 : n.size());
    return out;
}

long words(const std::string& text) { return text.empty() ? 0 : std::ranges::count(text, ' ') + 1; }

// The keeper's state in the state document (the document when it has none).
std::string keeper_state(const Sysroot& root)
{
    Cli json(root, {"inspect", "--json"});
    const std::string doc = json.wait() == 0 ? json.out() : "";
    const size_t at = doc.find("\"state\":\"", doc.find("\"keeper\":{"));
    return doc.find("\"keeper\":{") == std::string::npos || at == std::string::npos
               ? doc
               : doc.substr(at + 9, doc.find('"', at + 9) - at - 9);
}

class KeeperTable : public ::testing::TestWithParam<KeeperCase> {};

TEST_P(KeeperTable, KeepsTheConnectionAsTheSettingsAndTheShellSay)
{
    const KeeperCase& c = GetParam();
    Sysroot root;
    for (const std::string& kv : split(c.autoconnect, ',')) {
        ASSERT_TRUE(root.confdb_set("config wan lte autoconnect " + kv));
    }
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start());
    const LogTail log(root);
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    const auto run = [&](const std::string& what) {
        if (what.starts_with("sim "))
            EXPECT_EQ("ok", sim.command(what.substr(4)));
        else if (what.starts_with("shell "))
            TcpShell(daemon.cmd_port()).send_line(what.substr(6));
    };
    if (std::string(c.state) == "up") {
        ASSERT_TRUE(eventually([&] { return keeper_state(root) == "up"; }, 20s)) << log.text();
    }
    for (const std::string& line : split(c.event, ';'))
        run(line);
    // The watched calls, with the time each came.
    std::vector<std::chrono::steady_clock::time_point> came;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(c.watch_ms);
    for (long seen = words(connection_calls(sim)); std::chrono::steady_clock::now() < end;) {
        const std::string calls = connection_calls(sim);
        for (; seen < words(calls); ++seen)
            came.push_back(std::chrono::steady_clock::now());
        if (calls.ends_with("DeviceReset"))
            break;
        std::this_thread::sleep_for(20ms);
    }
    run(c.then);
    EXPECT_TRUE(eventually([&] { return keeper_state(root) == c.state && connection_calls(sim) == c.calls; }, 20s))
        << keeper_state(root) << "\n" << connection_calls(sim) << log.text();
    if (const auto gaps = split(c.gaps_s, ' '); !gaps.empty()) {
        // Each wait as the keeper announces it, and the waits in all as the
        // calls came: they are seen by polling, and one seen late shortens
        // the next gap on a busy machine, so only their sum is held to time.
        ASSERT_EQ(gaps.size() + 1, came.size());
        long long total_ms = 0;
        for (size_t i = 0; i < gaps.size(); ++i) {
            EXPECT_TRUE(log.wait_for("(failures in a row " + std::to_string(i) + ", next in " + gaps[i] + " s)"))
                << log.text();
            total_ms += std::stoi(gaps[i]) * 1000LL;
        }
        const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(came.back() - came.front()).count();
        EXPECT_GT(span, total_ms - 1500) << "the calls came faster than the waits";
    }
    EXPECT_TRUE(log.wait_for(c.log)) << log.text();
    EXPECT_EQ(0, daemon.stop(SIGTERM));
}

INSTANTIATE_TEST_SUITE_P(Rows, KeeperTable, ::testing::ValuesIn(keeper_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cnxd::test
