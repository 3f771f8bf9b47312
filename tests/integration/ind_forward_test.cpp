// Indications end to end: a record injected into the simulated modem (or a
// modem answer a step brings about), the lines a log listener reads for it,
// the frame both subscribers then receive (event, and the bytes after the
// device index), and the interface configuration it makes. A client that
// subscribed to nothing never receives a frame.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/be.h"
#include "if_record.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

using Lines = std::vector<std::string>;
constexpr uint32_t DEV = 3;
constexpr int NO_FRAME = -1;
constexpr size_t AS_FWD = SIZE_MAX;

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 1);
    return b;
}

Bytes head(const Bytes& b, size_t n) { return {b.begin(), b.begin() + static_cast<long>(n)}; }

Bytes with_be(Bytes b, size_t at, uint32_t v, size_t width)
{
    width == 2 ? store_be16(&b[at], static_cast<uint16_t>(v)) : store_be32(&b[at], v);
    return b;
}

// Protocol information of `type` whose first data byte is `first`.
Bytes protocol_info(uint16_t type, uint8_t first = 0)
{
    Bytes r = with_be(Bytes(2048, 0), 2, type, 2);
    r[4] = first;
    return r;
}

// An IPv4 interface with an address of its own (so no DHCP is started).
Bytes set(Bytes b, size_t at, uint8_t value)
{
    b[at] = value;
    return b;
}

Bytes nic(const std::string& name, const std::string& apn, uint16_t eps)
{
    Bytes r(ifrec::SIZE, 0);
    std::copy(name.begin(), name.end(), r.begin() + ifrec::NAME);
    store_be16(&r[ifrec::EPS_BEARER], eps);
    r[ifrec::APN_LEN] = static_cast<uint8_t>(apn.size());
    std::copy(apn.begin(), apn.end(), r.begin() + ifrec::APN_NAME);
    const uint8_t addr[] = {10, 1, 2, 3, 255, 255, 255, 0};
    std::copy(std::begin(addr), std::end(addr), r.begin() + ifrec::IPV4_ADDR);
    return r;
}

std::string inject(int id, const Bytes& rec)
{
    return "inject " + std::to_string(id) + " " + std::to_string(DEV) + (rec.empty() ? "" : " " + hex(rec));
}

struct Row {
    const char* what;
    std::vector<std::string> steps;  // simulator lines; "api N": a client request
    int event;
    Bytes fwd = {};                  // forwarded after the device index
    Lines lines = {};                // on the log channel, in this order
    size_t fwd_size = AS_FWD;        // checked alone when the modem made the record
    const char* configure = nullptr; // the interface operation word sent, "" none
    uint32_t dev = DEV;
};

const Bytes PLAIN_NIC = nic("lte0pdn0", "internet", 5);

const Row rows[] = {
    {"longer than its size: cut to it", {inject(2, pattern(2300))}, 26, head(pattern(2300), 2192),
     {"\nATTACH RESPONSE(DEV_IDX(3))\n"}},
    {"shorter than its size: what is there", {inject(2, pattern(100))}, 26, pattern(100)},
    {"the device index alone", {"inject 0 3"}, 22, {}, {"\nPOWER OFF RESPONSE(DEV_IDX(3))\n"}},
    {"UICC activate id with status 0: deactivate", {inject(57, {0, 0, 0, 0})}, 126, {0, 0, 0, 0},
     {"\nUICC ACTIVATE INDICATION(DEV_IDX(3))\n"}},
    {"UICC deactivate id with a status: activate", {inject(58, {2, 0, 0, 0})}, 125, {2, 0, 0, 0}},
    {"event without a subscription word", {inject(85, {0, 0, 0, 1})}, NO_FRAME, {}},
    {"DM extension report: DM clients only", {inject(90, with_be(pattern(20), 6, 12, 2))}, NO_FRAME, {}},
    {"DM report: as long as handed", {inject(89, pattern(64))}, 182, pattern(64)},
    {"protocol information 0", {inject(91, protocol_info(0))}, 186, head(protocol_info(0), 9)},
    {"protocol information 2", {inject(91, protocol_info(2, 254))}, 186, head(protocol_info(2, 254), 220)},
    {"protocol information 2, long form", {inject(91, protocol_info(2, 255))}, 186,
     head(protocol_info(2, 255), 1718)},
    {"protocol information 4", {inject(91, protocol_info(4))}, 186, head(protocol_info(4), 36)},
    {"protocol information 6, list", {inject(91, protocol_info(6, 1))}, 186, head(protocol_info(6, 1), 16)},
    {"protocol information 6", {inject(91, protocol_info(6, 2))}, 186, head(protocol_info(6, 2), 7)},
    {"protocol information 7", {inject(91, protocol_info(7))}, 186, head(protocol_info(7), 20)},
    {"protocol information 9", {inject(91, protocol_info(9))}, 186, head(protocol_info(9), 6)},
    {"protocol information of no known type", {inject(91, protocol_info(12))}, 186, head(protocol_info(12), 5),
     {"[ind_get_protocol_info_response] Unknown protocol info type : 12\n"}},
    {"protocol information 0, cut short", {inject(91, Bytes(7, 0))}, 186, Bytes(7, 0)},
    {"upload: head and data", {inject(67, with_be(pattern(30), 6, 20, 4))}, 146, with_be(pattern(30), 6, 20, 4)},
    {"upload: no more than the record", {inject(67, with_be(pattern(40), 6, 1000, 4))}, 146,
     with_be(pattern(40), 6, 1000, 4)},
    {"upload: no more than a frame", {inject(67, with_be(pattern(10000), 6, 9000, 4))}, 146,
     head(with_be(pattern(10000), 6, 9000, 4), 4084)},
    {"UICC read binary: the answer's data", {inject(73, with_be(pattern(300), 4, 1, 2))}, 158,
     head(with_be(pattern(300), 4, 1, 2), 266)},
    {"crash log: flag, then the chunk's first bytes", {"fail LAPI_GetCrashLogRequest 0", "api 139"}, 140,
     {0, 'n', 'o', ' ', 'c'}, {"\nCRASH LOG RESPOSNE(DEV_IDX(1))\n"}, AS_FWD, nullptr, 1},
    {"debug print at an address the SDK never gave", {inject(101, with_be(with_be(Bytes(8, 0), 0, 0x1234, 4), 4, 5, 4))},
     205, {}, {"\nDEBUG PRINT TO HOST(DEV_IDX(3))\n"}},
    {"text from the device", {inject(130, Bytes{0, 1, 'h', 'e', 'l', 'p', 0})}, NO_FRAME, {},
     {"\nASCII FROM DEVICE INDICATION(DEV_IDX(3))\n", "Message : help\n"}},
    {"ready: the modem's PDN", {"pdn up 2 somewhere"}, 163, {},
     {"\nINTERFACE READY INDICATION(DEV_IDX(1))\n", "Interface Name : lte0pdn2\n"}, ifrec::SIZE, "00000003", 1},
    {"release: the modem's PDN", {"pdn down 2"}, 164, {},
     {"\nINTERFACE RELEASE INDICATION(DEV_IDX(1))\nInterface Name : lte0pdn2\n"}, ifrec::SIZE, "00000000", 1},
    {"ready from outside: named after the profiles", {inject(77, nic("", "elsewhere", 99))}, 163,
     nic("lte0pdn2", "elsewhere", 99),
     {"Interface request is from outside\n", "Can't find TID by dft_eps_id (99).\n",
      "Interface Name : lte0pdn2\nDate Path      : 0\nPDN IP Type    : 0\nNIC Type       : 0\nDefault EPS ID : 99\n"
      "APN class      : 0\nAPN NI         : elsewhere\n",
      "IPv4 Address        : 10.1.2.3\nIPv4 Netmask        : 255.255.255.0\n",
      "Print nic_info before CMD_EVT_INT_READY_IND ===> 10.1.2.3\n"},
     AS_FWD, "00000003"},
    {"ready of both IP types, IPv6 failed", {inject(77, set(set(nic("lte0pdn3", "", 98), ifrec::PDN_IP_TYPE, 2), ifrec::IPV6_ERROR, 1))}, 163,
     set(set(nic("lte0pdn3", "", 98), ifrec::PDN_IP_TYPE, 2), ifrec::IPV6_ERROR, 1), {"IPv4 Secondary DNS  : 0.0.0.0\nIPv6 Error\n"}, AS_FWD,
     "00000003"},
    {"release of another data path", {inject(78, set(PLAIN_NIC, ifrec::DATA_PATH, 1))}, NO_FRAME, {},
     {}, AS_FWD, ""},
    {"release of every interface", {inject(78, with_be(Bytes(ifrec::SIZE, 0), ifrec::EPS_BEARER, 0xFFEF, 2))}, 164,
     with_be(Bytes(ifrec::SIZE, 0), ifrec::EPS_BEARER, 0xFFEF, 2), {"Network detached\n"}, AS_FWD, "00000000"},
    {"change without an IPv6 error", {inject(79, PLAIN_NIC)}, 165, PLAIN_NIC, {}, AS_FWD, ""},
    {"change with an IPv6 error", {inject(79, set(PLAIN_NIC, ifrec::IPV6_ERROR, 1))}, 165,
     set(PLAIN_NIC, ifrec::IPV6_ERROR, 1), {}, AS_FWD, "00000002"},
    {"ready without a record", {"inject 77 3"}, NO_FRAME, {}, {"Invalid nic_info\n"}, AS_FWD, ""},
};

class IndForward : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The modem answers none of the bring-up chain's requests: the
        // injected records and the steps' answers are the only indications.
        root.write_file("/etc/ltesim.conf",
                        "set delay_ms 0\nfail LAPI_GetCrashLogRequest 1\nfail LAPI_PSInitRequest 1\n"
                        "fail LAPI_GetProtocolInfoRequest 1\nfail LAPI_OnlineRequest 1\n");
        ASSERT_TRUE(daemon.start());
        sim.emplace(root);
        ASSERT_EQ("ok", sim->command("sync")) << "the insert at start-up is past";
        for (RawClient* c : {&a, &b, &quiet})
            ASSERT_TRUE(c->open({{5, 0}}).has_value());
        a.subscribe_all();
        b.subscribe_all();
        tail.emplace(root);
        ASSERT_TRUE(tail->open());
    }
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }

    void run(const Row& r)
    {
        ASSERT_EQ("ok", sim->command("clear"));
        for (const std::string& step : r.steps) {
            if (step.starts_with("api "))
                ASSERT_EQ(0, quiet.api_request(static_cast<uint16_t>(std::stoi(step.substr(4))), 1, {}));
            else
                ASSERT_EQ("ok", sim->command(step));
        }
        ASSERT_EQ("ok", sim->command("sync"));
    }

    void expect_frame(RawClient& c, const Row& r)
    {
        const auto f = c.recv(5s);
        ASSERT_TRUE(f.has_value()) << "no frame";
        const size_t n = r.fwd_size == AS_FWD ? r.fwd.size() : r.fwd_size;
        ASSERT_EQ(12 + n, f->size());
        EXPECT_EQ((Bytes{0x81, 0x07}), head(*f, 2));
        EXPECT_EQ(f->size() - 4, load_be16(f->data() + 2));
        EXPECT_EQ(r.event, load_be16(f->data() + 4));
        EXPECT_EQ(4 + n, load_be16(f->data() + 6));
        EXPECT_EQ(r.dev, load_be32(f->data() + 8));
        if (r.fwd_size == AS_FWD) {
            EXPECT_EQ(r.fwd, Bytes(f->begin() + 12, f->end()));
        }
    }

    std::vector<std::string> configured()
    {
        std::vector<std::string> ops;
        for (const std::string& c : sim->calls())
            if (c.starts_with("LAPI_ConfigureNetworkInterface "))
                ops.push_back(c.substr(c.size() - 8));
        return ops;
    }

    Sysroot root;
    Daemon daemon{root};
    std::optional<LtesimClient> sim;
    RawClient a{root, "a"}, b{root, "b"}, quiet{root, "quiet"};
    std::optional<LogTail> tail;
};

TEST_F(IndForward, EachRecordPrintsForwardsAndConfiguresWhatIsItsOwn)
{
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        size_t from = tail->text().size();
        run(r);
        for (const std::string& line : r.lines) {
            size_t at = std::string::npos;
            ASSERT_TRUE(eventually([&] { return (at = tail->text().find(line, from)) != std::string::npos; }))
                << "no line, or out of order: " << line << "\nafter\n" << tail->text().substr(from);
            from = at + line.size();
        }
        // A frame that should not have come shows up at the next row.
        if (r.event != NO_FRAME) {
            expect_frame(a, r);
            expect_frame(b, r);
        }
        if (r.configure) {
            EXPECT_EQ(*r.configure ? Lines{r.configure} : Lines{}, configured());
        }
    }
    EXPECT_TRUE(daemon.running());
    EXPECT_FALSE(a.recv(300ms).has_value()) << "nothing more";
    EXPECT_FALSE(quiet.recv(300ms).has_value()) << "an unsubscribed client gets nothing";
}

}  // namespace
}  // namespace cnxd::test
