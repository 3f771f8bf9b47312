// Every registration end to end: one record per callback id injected into
// the simulated modem, forwarded by the daemon's handler to the clients
// that subscribed to its event. The rows that only print get the modem's
// default record of their callback (inject_default) and must print each
// field of their layout, labelled, on the log channel before forwarding
// exactly their record.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/be.h"
#include "base/record.h"
#include "base/record_text.h"
#include "ind/expected.h"
#include "ind/ind.h"
#include "ind/ind_layout.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

constexpr uint32_t DEV = 3;

// One injection and what the subscribers must get for it.
struct Case {
    uint32_t id;
    Bytes record;
    int event;        // -1: no frame
    size_t forwarded; // record bytes after the device index
};

Bytes pattern(size_t n, int seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + static_cast<size_t>(seed));
    return b;
}

// inject_default's record of callback `id` (docs/ltesim.md): byte i is
// '!' + (i * 7 + id) % 94, every one printable.
Bytes default_record(uint32_t id, size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>('!' + (i * 7 + id) % 94);
    return b;
}

// A usual-form row without a body of its own: it prints its layout.
bool print_only(const ind_row& row)
{
    return row.body == nullptr && std::holds_alternative<LAPI_CALLBACK>(row.handler);
}

// The title and the layout's lines as the daemon is to print them.
std::string expected_print(const ind_row& row, const Bytes& record)
{
    return std::string("\n") + row.title + "(DEV_IDX(" + std::to_string(DEV) + "))\n" +
           record_text(ind_layout(row.cb_id), record);
}

// The label each field's line starts with, in record order (a group's
// fields stand for the group; an array's first heading for the array).
void labels_of(record_fields fields, std::vector<std::string>& out)
{
    for (const record_field& f : fields) {
        if (f.format == record_fmt::array && f.width == 0) {
            labels_of(f.sub, out);
            continue;
        }
        std::string label = f.label;
        if (const size_t at = label.find("%d"); at != std::string::npos)
            label.replace(at, 2, std::to_string(f.first));
        out.push_back(label);
    }
}

// The record of a row whose forwarded size depends on its contents.
Case special_case(const expected_row& row)
{
    Case c{row.id, {}, row.event, 0};
    switch (row.id) {
    case 64:  // crash log result: flag byte, address word 0 (no chunk), length
        c.record = {0, 0, 0, 0, 0, 0, 0, 0, 4};
        c.forwarded = 1;
        break;
    case 67:  // binary upload: 20 bytes of NV data behind the 10-byte head
        c.record = pattern(30, row.order);
        store_be32(&c.record[6], 20);
        c.forwarded = 30;
        break;
    case 73:  // UICC read binary answer handed past its 260 data bytes
        c.record = pattern(300, row.order);
        store_be16(&c.record[4], 1);
        c.forwarded = 266;
        break;
    case 89:  // DM report, as long as the SDK hands it
        c.record = pattern(64, row.order);
        c.forwarded = 64;
        break;
    case 90:  // DM extension report: 8-byte head and 12 bytes of data
        c.record = pattern(20, row.order);
        store_be16(&c.record[6], 12);
        c.forwarded = 20;
        break;
    case 91:  // protocol information, APN table of the short form
        c.record = Bytes(220, 0);
        store_be16(&c.record[2], 2);
        c.forwarded = 220;
        break;
    case 101:  // debug print without an address: the device index alone
        c.record = Bytes(8, 0);
        c.forwarded = 0;
        break;
    default:
        ADD_FAILURE() << "no record for the special row " << row.name;
    }
    return c;
}

Case case_for(const expected_row& row)
{
    switch (row.forward.how) {
    case fwd::bytes:
        return {row.id, pattern(row.forward.n, row.order), row.event, row.forward.n};
    case fwd::idx:
        return {row.id, {}, row.event, 0};
    case fwd::none:
        // Printable text with a 16-bit type in front for the ASCII form.
        return {row.id, {0, 1, 'o', 'k', 0}, -1, 0};
    case fwd::special:
        return special_case(row);
    }
    return {};
}

// Events 175 and 177 have no subscription word, and DM reports (184) go
// only to the clients of the DM client mask, empty here.
bool deliverable(int event)
{
    return event != 175 && event != 177 && event != 184;
}

void expect_frame(RawClient& c, const Case& want, const std::string& what)
{
    const auto d = c.recv(5s);
    ASSERT_TRUE(d.has_value()) << what << ": no frame";
    const Bytes& f = *d;
    ASSERT_GE(f.size(), 12u) << what;
    EXPECT_EQ(0x8107, load_be16(f.data())) << what;
    EXPECT_EQ(f.size() - 4, load_be16(f.data() + 2)) << what;
    EXPECT_EQ(want.event, load_be16(f.data() + 4)) << what;
    EXPECT_EQ(4 + want.forwarded, load_be16(f.data() + 6)) << what;
    EXPECT_EQ(DEV, load_be32(f.data() + 8)) << what;
    ASSERT_EQ(12 + want.forwarded, f.size()) << what;
    EXPECT_TRUE(std::equal(f.begin() + 12, f.end(), want.record.begin())) << what << ": the record's own bytes";
}

class IndForward : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The modem does not answer the bring-up chain's requests, nor those
        // of the first-time sequence an injected initialisation answer
        // starts, so the injected records are the only indications after
        // the insert.
        root.write_file("/etc/ltesim.conf",
                        "set delay_ms 0\n"
                        "fail LAPI_GetCrashLogRequest 1\n"
                        "fail LAPI_PSInitRequest 1\n"
                        "fail LAPI_GetProtocolInfoRequest 1\n"
                        "fail LAPI_SMSSubmitRequest 1\n"
                        "fail LAPI_PHYFunctionControlRequest 1\n"
                        "fail LAPI_RRCCapabilityControlRequest 1\n"
                        "fail LAPI_OnlineRequest 1\n");
        ASSERT_TRUE(daemon.start());
        sim.emplace(root);
        ASSERT_TRUE(sim->connected());
        ASSERT_EQ("ok", sim->command("sync")) << "the insert at start-up is past";
        for (RawClient* c : {&a, &b, &quiet})
            ASSERT_TRUE(c->open({{5, 0}}).has_value());
        a.subscribe_all();
        b.subscribe_all();
    }
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }

    // Injects `line`, then expects `want`'s frame at each subscriber (none
    // for an event no client can have); counts the frames.
    void deliver(const std::string& line, const Case& want, const char* what)
    {
        ASSERT_EQ("ok", sim->command(line)) << what;
        ASSERT_EQ("ok", sim->command("sync")) << what;
        if (want.event < 0 || !deliverable(want.event))
            return;
        // A frame of an earlier row that should not have come shows up here.
        for (RawClient* client : {&a, &b})
            expect_frame(*client, want, what);
        ++frames;
    }
    // Nothing more for the subscribers, nothing ever for the other client.
    void expect_no_more()
    {
        EXPECT_TRUE(daemon.running());
        for (RawClient* client : {&a, &b})
            EXPECT_FALSE(client->recv(300ms).has_value()) << "nothing more";
        EXPECT_FALSE(quiet.recv(300ms).has_value()) << "an unsubscribed client gets nothing";
    }

    Sysroot root;
    Daemon daemon{root};
    std::optional<LtesimClient> sim;  // once the SDK is open
    RawClient a{root, "a"};
    RawClient b{root, "b"};
    RawClient quiet{root, "quiet"};
    int frames = 0;
};

TEST_F(IndForward, PrintOnlyRowsPrintEveryFieldOfTheirLayoutThenForwardTheirRecord)
{
    LogTail tail(root);
    ASSERT_TRUE(tail.open());
    EXPECT_TRUE(sim->command("inject_default 91 3").starts_with("err")) << "protocol information has no fixed size";
    int rows = 0;
    for (size_t i = 0; i < ind_callback_tbl.size(); ++i) {
        const ind_row& row = ind_callback_tbl[i];
        if (!print_only(row))
            continue;
        ++rows;
        // The record's size and event as written down apart from the table.
        const expected_row& expect = expected_tbl[i];
        ASSERT_TRUE(expect.forward.how == fwd::bytes || expect.forward.how == fwd::idx) << row.name;
        const size_t n = expect.forward.n;
        const Case c{expect.id, default_record(expect.id, n), expect.event, n};
        const size_t from = tail.text().size();
        deliver("inject_default " + std::to_string(row.cb_id) + " " + std::to_string(DEV), c, row.name);
        // The handler has run: its lines are on their way to the listener.
        const std::string want = expected_print(row, c.record);
        ASSERT_TRUE(eventually([&] { return tail.text().find(want, from) != std::string::npos; }, 5s))
            << row.name << ": wanted\n" << want << "\ngot\n" << tail.text().substr(from);
        // One line per field, each starting with its label, in record order.
        std::vector<std::string> labels;
        labels_of(ind_layout(row.cb_id), labels);
        EXPECT_EQ(row.cb_id != 0, !labels.empty()) << row.name << ": only power off has no record";
        size_t at = 0;
        for (const std::string& label : labels) {
            at = want.find("\n" + label, at);
            ASSERT_NE(std::string::npos, at) << row.name << ": no line for " << label;
            ++at;
        }
    }
    EXPECT_EQ(131, rows);
    EXPECT_EQ(129, frames) << "events 175 and 177 have no subscription word";
    expect_no_more();
}

TEST_F(IndForward, EveryOtherRowReachesEachSubscriberExactlyOnce)
{
    // One row at a time: a client's socket holds only a few datagrams, and
    // the daemon waits for room in it.
    for (size_t i = 0; i < ind_callback_tbl.size(); ++i) {
        if (print_only(ind_callback_tbl[i]))
            continue;
        const expected_row& row = expected_tbl[i];
        Case c = case_for(row);
        if (row.id == 57 || row.id == 58) {
            // Activate (status non-zero) and deactivate (status 0) share a
            // handler; the status byte, not the id, picks the event.
            c.record[0] = row.id == 57 ? 0 : 2;
            c.event = row.id == 57 ? 126 : 125;
        }
        if (row.id == 78)
            c.record[269] = 0;  // data path: a release of an interface not the daemon's is not forwarded
        const std::string line = "inject " + std::to_string(c.id) + " " + std::to_string(DEV) +
                                 (c.record.empty() ? "" : " " + hex(c.record));
        deliver(line, c, row.name);
    }
    EXPECT_EQ(34, frames) << "39 rows less the four that forward nothing and the DM extension reports";
    expect_no_more();
}

}  // namespace
}  // namespace cnxd::test
