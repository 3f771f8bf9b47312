// Every request command of the command table, driven from its row: the
// usage for a token count outside its range, the device message for an
// invalid device index, and for valid arguments with the sample parameter
// files exactly the SDK call of its wrapper, carrying the record that the
// row's builder makes of those files and arguments.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "dm/log_paths.h"
#include "param/param.h"
#include "param/param_read.h"
#include "shell/cmd_request.h"
#include "shell/cmd_table.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

struct Sample {
    const char* word;
    const char* args;  // after the device index
    const char* call;  // the SDK function its wrapper calls
};

// Valid arguments of every request command and the SDK call they make.
constexpr Sample samples[] = {
    {"reset", "", "LAPI_DeviceReset"},
    {"pf", "", "LAPI_DevicePowerOff"},
    {"at", "0", "LAPI_AttachRequest"},
    {"atex", "0", "LAPI_AttachRequestEXT"},
    {"dt", "0", "LAPI_DetachRequest"},
    {"pc", "0 0", "LAPI_PDNConnRequest"},
    {"pcex", "1 internet 0", "LAPI_PDNConnRequestEXT"},
    {"pd", "5 0", "LAPI_PDNDisconnRequest"},
    {"br", "0", "LAPI_BearerResourceAllocation"},
    {"pls", "", "LAPI_PLMNSearchRequest"},
    {"plss", "0", "LAPI_PLMNSearchStopRequest"},
    {"pll", "", "LAPI_PLMNListRequest"},
    {"pllext", "", "LAPI_PLMNListExtRequest"},
    {"pllext2", "", "LAPI_PLMNListExt2Request"},
    {"plla", "", "LAPI_PLMNListAbortRequest"},
    {"qspl", "", "LAPI_QuerySelectedPLMNRequest"},
    {"plsi", "", "LAPI_PLMNSearchIntervalIndexReadRequest"},
    {"plsic", "1", "LAPI_PLMNSearchIndexChangeRequest"},
    {"plsr", "", "LAPI_PLMNSearchStatusReadRequest"},
    {"plsmr", "", "LAPI_PLMNSearchModeReadRequest"},
    {"acs", "", "LAPI_AutomaticCellSearchStartRequest"},
    {"service", "", "LAPI_ServiceRequest"},
    {"sus", "0", "LAPI_SuspendRequest"},
    {"resume", "0", "LAPI_ResumeRequest"},
    {"on", "", "LAPI_OnlineRequest"},
    {"off", "", "LAPI_OfflineRequest"},
    {"offx", "0", "LAPI_OfflineRequestExtension"},
    {"hkadc", "0", "LAPI_HKADCReadRequest"},
    {"mid", "0", "LAPI_MobileIDReadRequest"},
    {"iccid", "", "LAPI_ICCIDReadRequest"},
    {"msisdn", "", "LAPI_MSISDNReadRequest"},
    {"temperature", "", "LAPI_TemperatureReadRequest"},
    {"nid", "0 0", "LAPI_NIDReadRequest"},
    {"tz", "0", "LAPI_TZReadRequest"},
    {"indm", "", "LAPI_IndicationMaskReadRequest"},
    {"scf", "", "LAPI_ServinigCellFreqReadRequest"},
    {"sib", "", "LAPI_SIB1PmaxReadRequest"},
    {"emmi", "", "LAPI_EMMInformationReadRequest"},
    {"emms", "", "LAPI_EMMStateReadRequest"},
    {"tin", "", "LAPI_TINReadRequest"},
    {"guti", "", "LAPI_GUTIReadRequest"},
    {"uicc", "1", "LAPI_UICCRequest"},
    {"gpsinfo", "0", "LAPI_GetProtocolInfoRequest"},
    {"indmc", "", "LAPI_IndicationMaskControlRequest"},
    {"rfsc", "", "LAPI_RFStatusReportControlRequest"},
    {"rfec", "", "LAPI_RFEventControlRequest"},
    {"dbgc", "0", "LAPI_DebugLogControlRequest"},
    {"epsnsc", "", "LAPI_SaveEPSNSCNV"},
    {"rfmr", "0", "LAPI_RFMeasureReportRequest"},
    {"hic", "0", "LAPI_HostIPConnectRequest"},
    {"lb", "1 3 1 100", "LAPI_LOOPBACK"},
    {"sp", "1 1", "LAPI_SetGPIO"},
    {"gc", "", "LAPI_GetCrashLogRequest"},
    {"ec", "", "LAPI_EraseCrashLogRequest"},
    {"chmac", "00-11-22-33-44-55", "LAPI_SetLTEInfo"},
    {"chimei", "35123456789012", "LAPI_SetLTEInfo"},
    {"rrccapa", "1", "LAPI_RRCCapabilityControlRequest"},
    {"rrcfunc", "0", "LAPI_RRCFunctionControlRequest"},
    {"phyfunc", "0", "LAPI_PHYFunctionControlRequest"},
    {"phyfuncg", "0", "LAPI_PHYFunctionControlGetRequest"},
    {"phyta", "0 0", "LAPI_PHYTAInformationRequest"},
    {"plmncfgset", "1", "LAPI_PLMNCfgSetRequest"},
    {"plmncsgl", "", "LAPI_PLMNCSGListRequest"},
    {"plmncsga", "", "LAPI_PLMNCSGListAbortRequest"},
    {"plmncsgqs", "", "LAPI_PLMNCSGQuerySelectedRequest"},
    {"supalgoread", "", "LAPI_UESupportAlgorithmReadRequest"},
    {"gp", "1", "LAPI_GetGPIO"},
    {"oprtrcnt", "3 3", "LAPI_SetOprtcntRequest"},
    {"edrx", "1 1", "LAPI_ExtDRXParamctrlRequest"},
    {"con5gnr", "1", "LAPI_5GNRControlRequest"},
    {"supalgoset", "1 1", "LAPI_UESupportAlgorithmChangeRequest"},
    {"plmncsggl", "0", "LAPI_PLMNCSGGetCSGLRequest"},
    {"rrccapag", "1", "LAPI_RRCCapabilityControlGetRequest"},
    {"rrcfuncg", "0", "LAPI_RRCFunctionControlGetRequest"},
    {"l2funcg", "0", "LAPI_L2FunctionControlGetRequest"},
    {"plmncfgget", "1", "LAPI_PLMNCfgGetRequest"},
    {"nasconf", "0 1 1", "LAPI_SetNASConfigRequest"},
    {"spsinfo", "0 1", "LAPI_SetProtocolInfoRequest"},
    {"dm", "0 0 1 0", "LAPI_DMLogReadRequest"},
    {"dmext", "0 0 1 0 1", "LAPI_DMLogExtReadRequest"},
    {"plse", "", "LAPI_PLMNSearchExtRequest"},
    {"bip", "1", "LAPI_BIPControlIndication"},
    {"vs", "7", "LAPI_VendorSpecificHCI"},
    {"ctrl5gsecu", "1", "LAPI_5GAddSecurityCtrlRequest"},
    {"plmncsgs", "45006 7", "LAPI_PLMNCSGSelectRequest"},
    {"plmncsgsl", "0 1 45006 0 0 7", "LAPI_PLMNCSGSetACSGLRequest"},
    {"nvup", "2", "LAPI_UploadBinary"},
};

std::string read_text(const std::string& path)
{
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

// A line of the word, a device index and `n` more tokens in all.
std::string line_of(const cmd_entry& e, const char* dev, int n)
{
    std::string line = e.word;
    for (int i = 1; i < n; ++i)
        line += std::string(" ") + (i == 1 ? dev : "0");
    return line;
}

class CommandRows : public ShellTest {
protected:
    CommandRows()
    {
        set_log_file_paths();
        std::filesystem::create_directories(root_.path(PARAM_DIR_DEFAULT));
        for (const auto& f : std::filesystem::directory_iterator(std::string(CNXD_SOURCE_DIR) + "/docs/param"))
            root_.write(std::string(PARAM_DIR_DEFAULT) + f.path().filename().string(), read_text(f.path()));
        std::filesystem::create_directories(root_.path("/var/nv"));
        root_.write("/var/nv/item2.bin", std::string(16, '\1'));  // the web page's search settings
    }

    // The texts the line prints, traces left out.
    Lines prints(const std::string& line)
    {
        logs();
        dispatch(line);
        Lines out = logs();
        std::erase_if(out, is_trace);
        return out;
    }
    static bool is_trace(const std::string& t)
    {
        static const std::regex trace(R"(\[[A-Za-z0-9_]+[+-]\]\n)");
        return std::regex_match(t, trace);
    }
    // The record the row's builder makes of the sample files and `args`.
    static std::string built(const cmd_entry& e, const std::string& args)
    {
        std::vector<std::string> words{e.word, "1"};
        std::istringstream in(args);
        for (std::string w; in >> w;)
            words.push_back(w);
        std::vector<const char*> argv;
        for (const std::string& w : words)
            argv.push_back(w.c_str());
        param_args block;
        make_argument(block, static_cast<int>(argv.size()), argv.data());
        const make_param_row& row = make_parameter[static_cast<size_t>(e.builder)];
        std::vector<uint8_t> rec(row.size);
        EXPECT_EQ(0, param_make(static_cast<size_t>(e.builder), rec, {row.file, &block})) << e.word;
        return hex(rec.data(), rec.size());
    }
};

const Sample* sample_of(const cmd_entry& e)
{
    for (const Sample& s : samples)
        if (std::string_view(s.word) == e.word)
            return &s;
    return nullptr;
}

TEST_F(CommandRows, TokenCountDeviceIndexAndTheCallOfEveryRequestRow)
{
    size_t rows = 0;
    for (const cmd_entry& e : cmd_tbl) {
        const Sample* s = sample_of(e);
        if (!s)
            continue;
        ++rows;
        SCOPED_TRACE(e.word);
        const std::string usage_head = std::string(e.usage).substr(0, std::string(e.usage).find('\n') + 1);
        EXPECT_TRUE(usage_head.starts_with("-------") && usage_head.ends_with(" Usage-------\n")) << usage_head;
        if (e.min_tokens > 2) {
            EXPECT_TRUE(has(prints(line_of(e, "1", e.min_tokens - 1)), usage_head)) << "too few";
        }
        if (e.max_tokens < CMD_MAX_ARGS) {  // a longer line counts as empty
            EXPECT_EQ(usage_head, prints(line_of(e, "1", e.max_tokens + 1)).at(0)) << "too many";
        }
        EXPECT_EQ(named(e.name, "Invalid Device ID"), prints(line_of(e, "0", e.min_tokens)).at(0));
        calls();

        logs();
        dispatch(std::string(e.word) + " 1 " + s->args);
        for (const std::string& t : logs())
            EXPECT_TRUE(is_trace(t) || t.starts_with("[" + std::string(e.name))) << "printed: " << t;
        const Lines made = calls();
        ASSERT_EQ(1u, made.size()) << "one call";
        const std::string head = std::string(s->call) + " dev=1";
        EXPECT_TRUE(made[0].starts_with(head)) << made[0];
        // The common shape sends the builder's record as it stands.
        if (e.handler == cmd_request && e.builder >= 0 && made[0].size() > head.size()) {
            EXPECT_TRUE(built(e, s->args).starts_with(made[0].substr(head.size() + 1))) << made[0];
        }
    }
    EXPECT_EQ(std::size(samples), rows) << "every sample names a row";
}

// The arguments a usage documents: for each "[name]" of its command form
// after the device index, the values of its block's lines ("\tV : ..."
// or "\tA ~ B ..."); a "default" or "reserved" line documents none.
struct usage_arg {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    bool takes(int64_t v) const
    {
        return std::ranges::any_of(ranges, [v](const auto& r) { return v >= r.first && v <= r.second; });
    }
};
std::vector<usage_arg> usage_args(const std::string& usage)
{
    static const std::regex value(R"(\t(-?\d+)(?: ~ (-?\d+))?(?: : (.*))?\n)");
    std::vector<usage_arg> args;
    std::vector<std::string> names;
    std::map<std::string, usage_arg> blocks;
    std::string block;
    std::istringstream in(usage);
    for (std::string line; std::getline(in, line);) {
        line += '\n';
        std::smatch m;
        if (line.starts_with("cmd>") || line.starts_with("DM>")) {
            static const std::regex name(R"(\[([a-z_]+)\])");
            for (auto it = std::sregex_iterator(line.begin(), line.end(), name); it != std::sregex_iterator(); ++it)
                if ((*it)[1] != "dev_idx")
                    names.push_back((*it)[1]);
        } else if (line.starts_with("[") && line.ends_with("]\n")) {
            block = line.substr(1, line.size() - 3);
        } else if (std::regex_match(line, m, value) && !m[3].str().starts_with("reserved")) {
            const int64_t lo = std::stoll(m[1]);
            blocks[block].ranges.emplace_back(lo, m[2].matched ? std::stoll(m[2]) : lo);
        }
    }
    for (const std::string& n : names)
        args.push_back(blocks[n]);
    return args;
}

TEST_F(CommandRows, EveryValueAUsageListsIsTakenAndOneJustOutsideIsRefused)
{
    // Arguments whose accepted values depend on another one or on a file
    // (pc's sample file gives the other form), and a sub-command word
    // before the value (uiccext).
    const std::set<std::string_view> dependent = {"nid", "gpsinfo", "spsinfo", "pc", "uiccext"};
    // A model that supports CA (a working band combination list).
    root_.write(std::string(PARAM_DIR_DEFAULT) + "rrc_ca_combination_list_working.bin",
                std::string("\1\2\3\4\xff", 5) + std::string(11, '\0') + "\1\3\xff");
    size_t tried = 0;
    for (const cmd_entry& e : cmd_tbl) {
        if (!e.usage || dependent.contains(e.word) || e.min_tokens < 3)
            continue;
        const std::vector<usage_arg> args = usage_args(e.usage);
        if (args.empty() || std::ranges::any_of(args, [](const usage_arg& a) { return a.ranges.empty(); }))
            continue;
        const auto line_with = [&](size_t i, int64_t v) {
            std::string line = std::string(e.word) + " 1";
            for (size_t j = 0; j < args.size(); ++j)
                line += " " + std::to_string(j == i ? v : args[j].ranges.front().first);
            return line;
        };
        for (size_t i = 0; i < args.size(); ++i)
            for (const auto& [lo, hi] : args[i].ranges) {
                for (const int64_t v : {lo, hi}) {
                    SCOPED_TRACE(line_with(i, v));
                    const Lines out = prints(line_with(i, v));
                    EXPECT_TRUE(std::ranges::none_of(out, [](const std::string& t) {
                        return t.find("Usage-------") != std::string::npos || t.find("nvalid") != std::string::npos ||
                               t.find("nknown") != std::string::npos;
                    })) << ::testing::PrintToString(out);
                    ++tried;
                }
                for (const int64_t v : {lo - 1, hi + 1}) {
                    if (v < 0 || v > UINT32_MAX || args[i].takes(v))
                        continue;
                    SCOPED_TRACE(line_with(i, v));
                    calls();
                    prints(line_with(i, v));
                    EXPECT_TRUE(calls().empty());
                }
            }
    }
    EXPECT_GT(tried, 100u);
}

}  // namespace
}  // namespace cnxd::test
