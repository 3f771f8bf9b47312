// The README's tour, run as a reader runs it: every command of its console
// blocks, in order, against a daemon in a fresh sysroot, each printing the
// first line of output the README shows under it. Numbers (ages, signal
// figures, frame numbers) and the width of blanks may differ.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <utility>
#include <vector>

#include "integration/harness.h"

namespace cnxd::test {
namespace {

struct Example {
    std::string command;
    std::string first_line;
};

// "$ COMMAND" lines of the ```console blocks, each with the first line
// shown after it.
std::vector<Example> examples(const std::string& readme)
{
    std::vector<Example> out;
    std::istringstream in(readme);
    bool console = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("```"))
            console = line == "```console";
        else if (console && line.starts_with("$ "))
            out.push_back({line.substr(2), ""});
        else if (console && !out.empty() && out.back().first_line.empty() && !line.empty())
            out.back().first_line = line;
    }
    return out;
}

// Blanks collapsed, each run of digits one '#'.
std::string shape(const std::string& line)
{
    std::string out;
    for (const char c : line) {
        const char k = std::isdigit(static_cast<unsigned char>(c)) ? '#' : std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
        if (!(k == ' ' || k == '#') || out.empty() || out.back() != k)
            out += k;
    }
    const auto first = out.find_first_not_of(' ');
    return first == std::string::npos ? "" : out.substr(first, out.find_last_not_of(' ') - first + 1);
}

bool shows(const std::string& text, const std::string& line)
{
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (shape(l) == shape(line))
            return true;
    return false;
}

TEST(Readme, EveryCommandOfTheTourPrintsWhatTheReadmeShows)
{
    Sysroot root;
    Daemon daemon(root);
    ASSERT_TRUE(daemon.start({}, {"env", "CNXD_CAPTURE=/tmp/cnxd.pcapng"}));
    LtesimClient sim(root);
    ASSERT_TRUE(sim.wait_online());
    // Where the README's paths are in this build and sysroot.
    const std::pair<std::string, std::string> places[] = {
        {"build-run/", CNXD_BUILD_DIR "/"},
    };
    const std::vector<std::pair<std::string, std::string>> env = {
        {"CNXD_ROOT", root.dir()}, {"PATH", CNXD_BUILD_DIR "/client:" + std::string(std::getenv("PATH"))}};
    const auto tour = examples(read_text(CNXD_SOURCE_DIR "/README.md"));
    ASSERT_GE(tour.size(), 5u);
    int run = 0;
    for (const Example& e : tour) {
        std::string command = e.command;
        for (const auto& [from, to] : places)
            for (size_t at = 0; (at = command.find(from, at)) != std::string::npos; at += to.size())
                command.replace(at, from.size(), to);
        // A status may have to wait for the answer that changes it.
        std::string out;
        EXPECT_TRUE(eventually(
            [&] {
                const std::string file = root.path("/var/tmp/readme." + std::to_string(++run));
                wait_child(spawn({"sh", "-c", command}, file, "", "", env), 30s);
                out = read_text(file);
                return shows(out, e.first_line);
            },
            10s))
            << e.command << "\nshould print: " << e.first_line << "\nprinted:\n" << out;
    }
}

}  // namespace
}  // namespace cnxd::test
