// Every wrapper of the table, with the simulated modem refusing and
// accepting: the named SDK function gets the device and the record, and
// the client's log stream shows the entry, failure and exit lines.
#include <functional>
#include <optional>
#include <set>
#include <type_traits>

#include "modem/cm_fixture.h"
#include "modem/cm_wrappers.h"

namespace cnxd::test {
namespace {

constexpr uint32_t kDev = 7;
constexpr uint32_t kMsgLen = 5;
constexpr int32_t kRefused = 5;

// The arguments every wrapper is called with.
struct Args {
    std::vector<uint8_t> rec = std::vector<uint8_t>(70000);
    std::vector<uint8_t> out = std::vector<uint8_t>(70000);
    std::array<uint8_t, 3> items{2, 0xaa, 0xbb};  // item count, two item ids
    std::string at_text = "AT+CFUN?";
    LAPI_AT_CMD at{at_text.c_str(), static_cast<uint32_t>(at_text.size())};
    LAPI_AT_CMD_EXT at_ext{1, at_text.c_str(), static_cast<uint32_t>(at_text.size())};

    // A recognisable record, with a small length word for the records
    // whose size the SDK reads from offset 2; the log configuration must
    // stay one that keeps the test's prints flowing.
    void reset(const std::string& sdk_fn)
    {
        for (size_t i = 0; i < rec.size(); ++i)
            rec[i] = static_cast<uint8_t>(i * 37 + 11);
        store_be16(&rec[2], 20);
        if (sdk_fn == "LAPI_SetLogConfig") {
            const auto config = tracing_log_config();
            std::copy(config.begin(), config.end(), rec.begin());
        }
    }
};

// The wrapper's result, or nothing for one that returns none.
template <typename F>
std::optional<int32_t> outcome(F call)
{
    if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
        call();
        return std::nullopt;
    } else {
        return call();
    }
}

struct Row {
    std::string name, sdk_fn, form, fail_text;
    bool returns_result;
    std::function<std::optional<int32_t>(Args&)> call;
};

#define CM_TEST_ARGS_REQ kDev, a.rec.data()
#define CM_TEST_ARGS_DEV kDev
#define CM_TEST_ARGS_NOREC kDev
#define CM_TEST_ARGS_REQ_OUT kDev, a.rec.data(), a.out.data()
#define CM_TEST_ARGS_LIST a.out.data()
#define CM_TEST_ARGS_MSG kDev, a.rec.data(), kMsgLen
#define CM_TEST_ARGS_DMEXT kDev, nullptr, a.rec.data(), a.items.data()
#define CM_TEST_ARGS_AT kDev, &a.at
#define CM_TEST_ARGS_AT_EXT kDev, &a.at_ext

const std::vector<Row> rows = {
#define CM_WRAPPER(name, sdk_fn, form, result, fail_text)                                       \
    {#name, #sdk_fn, #form, fail_text, std::string(#result) == "RESULT",                       \
     []([[maybe_unused]] Args& a) { return outcome([&] { return name(CM_TEST_ARGS_##form); }); }},
#include "modem/cm_wrappers.def"
};

// The call line the simulator records for a wrapper of `form`.
std::string expected_call(const Row& row, const Args& a, const std::string& recorded)
{
    std::string line = row.sdk_fn + (row.form == "LIST" ? " dev=-" : " dev=" + std::to_string(kDev));
    std::string bytes;
    if (row.form == "REQ" || row.form == "REQ_OUT") {
        // As much of the record as the SDK knows the size of.
        const size_t shown = recorded.size() > line.size() + 1 ? (recorded.size() - line.size() - 1) / 2 : 0;
        bytes = hex(a.rec.data(), shown);
    } else if (row.form == "MSG") {
        bytes = hex(a.rec.data(), kMsgLen);
    } else if (row.form == "DMEXT") {
        bytes = hex(a.rec.data(), LAPI_DM_LOG_EXT_READ_SIZE) + hex(a.items.data(), a.items.size());
    } else if (row.form == "AT" || row.form == "AT_EXT") {
        bytes = hex(reinterpret_cast<const uint8_t*>(a.at_text.data()), a.at_text.size());
    }
    return bytes.empty() ? line : line + " " + bytes;
}

using CmWrappers = CmTest;

TEST_F(CmWrappers, EachCallsItsSdkFunctionAndLogsEntryFailureAndExit)
{
    Args a;
    for (const Row& row : rows) {
        for (const int32_t result : {kRefused, 0}) {
            SCOPED_TRACE(row.name + " answered " + std::to_string(result));
            sim("fail " + row.sdk_fn + " " + std::to_string(result));
            a.reset(row.sdk_fn);
            const auto got = row.call(a);
            const Lines sdk_calls = calls();
            ASSERT_EQ(1u, sdk_calls.size());
            EXPECT_EQ(expected_call(row, a, sdk_calls[0]), sdk_calls[0]);
            const Lines want = result ? Lines{entry(row.name), named(row.name, row.fail_text), leave(row.name)}
                                      : Lines{entry(row.name), leave(row.name)};
            EXPECT_EQ(want, logs());
            EXPECT_EQ(row.returns_result ? std::optional(result) : std::nullopt, got);
        }
    }
}

// Each failure line names its own request: no two wrappers share a name or
// a failure text.
TEST(CmWrapperTable, EachFailureLineNamesItsOwnRequest)
{
    std::set<std::string> names, texts;
    for (const Row& row : rows) {
        names.insert(row.name);
        texts.insert(row.fail_text);
        EXPECT_TRUE(row.fail_text.ends_with(" fail")) << row.name;
    }
    EXPECT_EQ(rows.size(), names.size());
    EXPECT_EQ(rows.size(), texts.size());
}

}  // namespace
}  // namespace cnxd::test
