// Indications end to end: a record injected into the simulated modem (or a
// modem answer a step brings about), the lines a log listener reads for it
// in order, the frame both subscribers then receive (event, and the bytes
// after the device index), and what it makes happen: the interface
// configuration, requests to the modem, the platform commands it runs (the
// sysroot's stubs). A client that subscribed to nothing never receives a
// frame. Then the operator answer's and the found network's once-only
// follow-up requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/be.h"
#include "if_record.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

constexpr uint32_t DEV = 3;
constexpr int NO_FRAME = -1;
constexpr size_t AS_FWD = SIZE_MAX;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes unhex(const std::string& h)
{
    Bytes b;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return b;
}

Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 1);
    return b;
}

Bytes head(const Bytes& b, size_t n) { return {b.begin(), b.begin() + static_cast<long>(n)}; }

// `b` with `parts` written over it at their offsets.
Bytes put(Bytes b, std::initializer_list<std::pair<size_t, Bytes>> parts)
{
    for (const auto& [at, bytes] : parts)
        std::ranges::copy(bytes, b.begin() + static_cast<long>(at));
    return b;
}

// The low `width` bytes of `v`, big-endian.
Bytes be(uint64_t v, size_t width = 4)
{
    Bytes b(4);
    store_be32(b.data(), static_cast<uint32_t>(v));
    return Bytes(b.end() - static_cast<long>(width), b.end());
}

// A text with its length byte in front.
Bytes txt(std::string_view s)
{
    Bytes b{static_cast<uint8_t>(s.size())};
    b.insert(b.end(), s.begin(), s.end());
    return b;
}

Bytes protocol_info(uint16_t type, uint8_t first = 0) { return put(Bytes(2048, 0), {{2, be(type, 2)}, {4, {first}}}); }

// An IPv4 interface with an address of its own (so no DHCP is started).
Bytes nic(const std::string& name, const std::string& apn, uint16_t eps)
{
    return put(Bytes(ifrec::SIZE, 0), {{ifrec::NAME, Bytes(name.begin(), name.end())},
                                       {ifrec::EPS_BEARER, be(eps, 2)},
                                       {ifrec::APN_LEN, txt(apn)},
                                       {ifrec::IPV4_ADDR, {10, 1, 2, 3, 255, 255, 255, 0}}});
}

std::string inject(int id, const Bytes& rec)
{
    return "inject " + std::to_string(id) + " " + std::to_string(DEV) + (rec.empty() ? "" : " " + hex(rec));
}

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- Connection answers, every field filled ----------------------------------

const Bytes V6_PREFIX = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// The PDN information (177 bytes at `at`).
Bytes pdn_info(Bytes r, size_t at)
{
    return put(r, {{at, txt("admin")},                                // APN (100)
                   {at + 101, {2, 50, 10, 0, 0, 2}},                  // PDN type, cause, IPv4
                   {at + 107, V6_PREFIX + Bytes{2, 10, 0, 0, 9}},     // IPv6, P-CSCF IPv4
                   {at + 127, V6_PREFIX + Bytes{9, 2, 0xab, 0xcd}},   // P-CSCF IPv6, operator-specific data (16)
                   {at + 160, Bytes{9} + be(1000) + be(2000) + be(3000) + be(4000)}});  // QCI, MBRs, GBRs
}
const Lines PDN_INFO = {"APN Name : admin\n", "PDN Type : 2\n", "PDN Cause : 50\n", "IPv4 Address : 10.0.0.2\n",
                        "IPv6 Address : 2001:db8::2\n", "P-CSCF IPv4 Address : 10.0.0.9\n",
                        "P-CSCF IPv6 Address : 2001:db8::9\n", "Operator Specific Data : ab cd \n", "QCI : 9\n",
                        "UL MBR : 1000\n", "DL MBR : 2000\n", "UL GBR : 3000\n", "DL GBR : 4000\n"};

// The attach answer: head, NI, the PDN information and the tail (268 bytes)
// with every optional part present: feature flags, attach result, ESM
// cause, MTU, operator PCO (128), T3402, APN AMBRs, two emergency numbers
// (12 bytes each), MSISDN (20).
const Bytes ATTACH = put(pdn_info(Bytes(2192, 0), 113),
                         {{0, {0x10, 0x01, 0, 2, 0, 3, 0, 5, 0, 6, 1, 1}},
                          {12, txt("internet")},
                          {290, {1, 1, 1, 1, 1, 2, 18, 0x05, 0x78, 3, 0x27, 0x80, 0x00}},
                          {428, be(720) + be(50000) + be(100000) + Bytes{2, 1} + txt("911")},
                          {453, Bytes{2} + txt("112")},
                          {537, txt("5551234567")}});
const Lines ATTACH_LINES =
    Lines{"\nATTACH RESPONSE(DEV_IDX(3))\n", "Register result1 : 4097\n", "Register result2 : 2\n",
          "Lower layer reason : 3\n", "Default EPS ID : 5\n", "EPS ID : 6\n", "Data Path : 1\n", "IP Alloc Type : 1\n",
          "Attach NI length : 8\n", "Attach NI : internet\n"} +
    PDN_INFO +
    Lines{"IMS VoPS : 1\n", "EMC BS : 1\n", "EPC LCS : 1\n", "CS LCS : 1\n", "ESR PS : 1\n", "EPS Attach result : 2\n",
          "ESM cause : 18\n", "EPS IPv4 Link MTU : 1400\n", "OPERATOR PCO Encoded Data : [ 27 80 00 ]\n",
          "T3402 : 720\n", "UL APN AMBR : 50000\n", "DL APN AMBR : 100000\n", "Emergency Number[0]\n",
          "Service Category : 1\n", "Number : 911\n", "Emergency Number[1]\n", "Service Category : 2\n",
          "Number : 112\n", "MSISDN : 5551234567\n"};

// An operator PCO that fills the PDN disconnect answer (66 bytes).
const Bytes PCO(66, 0xc5);

std::string spaced_hex(const Bytes& b)
{
    std::string s;
    for (uint8_t x : b)
        s += hex(Bytes{x}) + " ";
    return s;
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
    const char* call = nullptr;      // a call the modem recorded
    const char* platform = nullptr;  // a platform command run
};

// A record forwarded whole.
Row whole(const char* what, int id, const Bytes& rec, int event, Lines lines, const char* platform = nullptr)
{
    return {what, {inject(id, rec)}, event, rec, std::move(lines), AS_FWD, nullptr, DEV, nullptr, platform};
}

const Bytes PLAIN_NIC = nic("lte0pdn0", "internet", 5);
const Bytes BOTH_IP_TYPES_V6_FAILED =
    put(nic("lte0pdn3", "", 98), {{ifrec::PDN_IP_TYPE, {2}}, {ifrec::IPV6_ERROR, {1}}});
const Bytes EVERY_INTERFACE = put(Bytes(ifrec::SIZE, 0), {{ifrec::EPS_BEARER, be(0xFFEF, 2)}});
const Bytes APN_ENTRY = unhex("0000000201") + put(Bytes(214, 0), {{0, {1}}, {2, txt("lte")}, {13, txt("internet")},
                                                                 {82, {0x01, 0x2c}}});  // inactivity timer 300
// Router information: NI ids, hop limit, prefix length and prefix.
const Bytes ICMPV6 = put(Bytes(200, 0), {{0, {1, 2, 3, 4}}, {36, {64}}, {134, {64, 0x20, 0x01, 0x0d, 0xb8}}});
const Bytes UPLOAD = put(pattern(30), {{6, be(20)}});
const Bytes UPLOAD_CUT = put(pattern(40), {{6, be(1000)}});
const Bytes UPLOAD_HUGE = put(pattern(10000), {{6, be(9000)}});
const Bytes READ_BINARY = put(pattern(300), {{4, be(1, 2)}});

const Row rows[] = {
    whole("attach answer", 2, ATTACH, 26, ATTACH_LINES),
    whole("PDN connectivity answer", 6, unhex("000700080009000b"), 33,
          {"\nPDN CONNECTIVITY RESPONSE(DEV_IDX(3))\n", "Result : 7\n", "RejectCause1 : 8\n", "RejectCause2 : 9\n",
           "Default EPS ID : 11\n"}),
    whole("PDN disconnect answer", 8,
          put(Bytes(176, 0), {{0, {0, 101, 0, 12, 0, 13, 0, 11}}, {8, txt("internet")}, {109, Bytes{66} + PCO}}), 37,
          {"\nPDN DISCONNECT RESPONSE(DEV_IDX(3))\n", "Result : 101\n", "RejectCause1 : 12\n", "RejectCause2 : 13\n",
           "Default EPS ID : 11\n", "NI length : 8\n", "NI : internet\n",
           "OPERATOR PCO Encoded Data : [ " + spaced_hex(PCO) + "]\n"}),
    whole("detach answer", 4, unhex("0005000600070000"), 30,
          {"\nDETACH RESPONSE(DEV_IDX(3))\n", "result : 5\n", "Deregister Cause1 : 6\n", "Deregister Cause2 : 7\n"}),
    whole("PDN connectivity required", 147, Bytes{1, 'i', 'm', 's'} + Bytes(97, 0) + Bytes{2}, 38,
          {"\nPDN CONNECTIVITY REQUIRED INDICATION(DEV_IDX(3))\n", "Request Type : 1\n", "APN Name : ims\n",
           "Type of Address : 2\n"}),
    whole("PDN disconnect required", 148, Bytes{0, 5} + txt("ims") + Bytes(61, 0), 39,
          {"\nPDN DISCONNECT REQUIRED INDICATION(DEV_IDX(3))\n", "Default EPS ID : 5\n", "APN NI : ims\n"}),
    whole("network time, not taken", 112, pattern(20), 226, {"\nEMM INFORMATION INDICATION(DEV_IDX(3))\n"}),
    whole("unknown operator code", 91, unhex("0000000509"), 186, {"\nCURRENT OPERATOR(DEV_IDX(3)) : Unknown(9)\n"}),
    whole("operational mode", 91, unhex("00000000010001"), 186,
          {"SELF CELL SEARCH : ENABLE\n", "SELF ATTACH : DISALBE\n"}),
    whole("DRX", 91, unhex("000000080309"), 186,
          {"\nDRX INFO(DEV_IDX(3))\n", "DRX VAL : T=128\n", "Invalid NON DRX TIMER (9)\n"}),
    whole("non-DRX 4 s", 91, unhex("000000080003"), 186,
          {"NON DRX TIMER : max. 4 sec non-DRX mode after transfer state\n"}),
    whole("one APN entry", 91, APN_ENTRY, 186,
          {"APN INDEX : 1\n", "ENABLED : 1\n", "PDN LABEL : lte\n", "NI LEN: 8\n", "APN NI : internet\n",
           "INCAT TIMER : 300\n"}),
    whole("failed protocol information", 91, unhex("00030007"), 186,
          {"\nGET PROTOCOL INFO ERROR RESULT : 3 (TYPE 7/DEV3)\n"}),
    whole("set answer", 92, unhex("0002000003"), 188, {"Protocol info type : 2\n", "Result : 0\n", "INDEX : 3\n"}),
    whole("timer", 95, unhex("0000000300000002"), 59, {"TimerID : T3402\n", "TimerStatus : EXPIRE\n"}),
    whole("unknown timer", 95, unhex("0000000900000000"), 59, {"TimerID : Unknown(00000009)\n"}),
    whole("no timer", 95, unhex("ffffffff00000000"), 59, {"Invalid Timer ID : ffffffff\n"}),
    whole("RRC attempts", 133, unhex("010005"), 269,
          {"Event : RRC retry couynt reached to maximum\n", "RRC Retry Count : 5\n"}),
    whole("attach attempts", 133, unhex("000002"), 269, {"Attach Retry Count : 2\n"}),
    whole("power saving on", 159, unhex("0001000a00000064"), NO_FRAME, {"  t3324 : 10\n", "  ext3412 : 100\n"},
          "kern pm psm 180"),
    whole("power saving off", 159, unhex("0101000a00000064"), NO_FRAME, {"  status : 1\n"}, "kern pm psm 0"),
    {"router information: sent back with its ids swapped", {inject(113, ICMPV6)}, 227, ICMPV6,
     {"Hop Limit : 64\n", "Prefix Length : 64\n"}, AS_FWD, nullptr, DEV,
     "LAPI_IPV6_ICMP_Set_Request dev=3 0304010220010db8000000000000000000000000"},
    whole("vendor TLVs", 116, unhex("0014" "00020007" "010301003c0000" "00030000" "00090001ff"), 245,
          {"Total buffer Length = 20\n", "tlv type = 2\n", "tlv try count = 3\n", "tlv val status 5nd = 0x00\n",
           "ATT Max Timer of TRRC Cfg : timer= 60\n", "ATT Max Timer of TRRC Cfg : result= FAIL\n",
           "User Registration Confirm\n", "tlv len = 1\n", "Not supported tlv type\n"}),
    whole("UICC status", 73, unhex("000000000000" "0102030405060708" "98101432547698103254"), 158,
          {"Card State : 1\n", "PUK1 Retry Count : 5\n", "PUK2 Retry Count : 8\n",
           "ICCID : 98 10 14 32 54 76 98 10 32 54 \n"}),
    whole("UICC read binary", 73, unhex("000000000001" "9000" "0002" "9f2a"), 158,
          {"UICC Read Binary\n", "SW1 : 90\n", "SW2 : 0\n", "Data Len : 2\n", "Data : 9f 2a \n"}),
    whole("UICC failure", 73, unhex("000500000007"), 158, {"UICC INFO RESPONSE FAILED(5)(type : 7)\n"}),
    whole("WAP push", 144, unhex("0000000700" "02abcd"), 289, {"teleId=7\n", "numField=2\n", "field : ab cd \n"},
          "ota_dm_cli run ni abcd"),
    // Records cut to their size, or shorter, or with sizes of their own.
    {"longer than its size: cut to it", {inject(2, pattern(2300))}, 26, head(pattern(2300), 2192)},
    whole("shorter than its size: what is there", 2, pattern(100), 26, {}),
    whole("the device index alone", 0, {}, 22, {"\nPOWER OFF RESPONSE(DEV_IDX(3))\n"}),
    whole("UICC activate id with status 0: deactivate", 57, {0, 0, 0, 0}, 126,
          {"\nUICC ACTIVATE INDICATION(DEV_IDX(3))\n"}),
    whole("UICC deactivate id with a status: activate", 58, {2, 0, 0, 0}, 125, {}),
    whole("event without a subscription word", 85, {0, 0, 0, 1}, NO_FRAME, {}),
    whole("DM extension report: DM clients only", 90, put(pattern(20), {{6, be(12, 2)}}), NO_FRAME, {}),
    whole("DM report: as long as handed", 89, pattern(64), 182, {}),
    {"protocol information 0", {inject(91, protocol_info(0))}, 186, head(protocol_info(0), 9)},
    {"protocol information 2", {inject(91, protocol_info(2, 254))}, 186, head(protocol_info(2, 254), 220)},
    {"protocol information 2, long", {inject(91, protocol_info(2, 255))}, 186, head(protocol_info(2, 255), 1718)},
    {"protocol information 6, list", {inject(91, protocol_info(6, 1))}, 186, head(protocol_info(6, 1), 16)},
    {"protocol information 6", {inject(91, protocol_info(6, 2))}, 186, head(protocol_info(6, 2), 7)},
    {"protocol information of no known type", {inject(91, protocol_info(12))}, 186, head(protocol_info(12), 5),
     {"[ind_get_protocol_info_response] Unknown protocol info type : 12\n"}},
    whole("protocol information 0, cut short", 91, Bytes(7, 0), 186, {}),
    whole("upload: head and data", 67, UPLOAD, 146, {}),
    whole("upload: no more than the record", 67, UPLOAD_CUT, 146, {}),
    {"upload: no more than a frame", {inject(67, UPLOAD_HUGE)}, 146, head(UPLOAD_HUGE, 4084)},
    {"UICC read binary: the answer's data", {inject(73, READ_BINARY)}, 158, head(READ_BINARY, 266)},
    {"crash log: flag, then the chunk's first bytes", {"fail LAPI_GetCrashLogRequest 0", "api 139"}, 140,
     {0, 'n', 'o', ' ', 'c'}, {"\nCRASH LOG RESPOSNE(DEV_IDX(1))\n"}, AS_FWD, nullptr, 1},
    {"debug print at an address the SDK never gave: nothing of it",
     {inject(101, put(Bytes(8, 0), {{0, be(0x1234)}, {4, be(5)}}))}, 205, {}, {"\nDEBUG PRINT TO HOST(DEV_IDX(3))\n"}},
    whole("text from the device", 130, Bytes{0, 1, 'h', 'e', 'l', 'p', 0}, NO_FRAME,
          {"\nASCII FROM DEVICE INDICATION(DEV_IDX(3))\n", "Message : help\n"}),
    // Interfaces, and the configuration they make.
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
    {"ready of both IP types, IPv6 failed", {inject(77, BOTH_IP_TYPES_V6_FAILED)}, 163, BOTH_IP_TYPES_V6_FAILED,
     {"IPv4 Secondary DNS  : 0.0.0.0\nIPv6 Error\n"}, AS_FWD, "00000003"},
    {"release of another data path", {inject(78, put(PLAIN_NIC, {{ifrec::DATA_PATH, {1}}}))}, NO_FRAME, {}, {}, AS_FWD,
     ""},
    {"release of every interface", {inject(78, EVERY_INTERFACE)}, 164, EVERY_INTERFACE, {"Network detached\n"}, AS_FWD,
     "00000000"},
    {"change without an IPv6 error", {inject(79, PLAIN_NIC)}, 165, PLAIN_NIC, {}, AS_FWD, ""},
    {"change with an IPv6 error", {inject(79, put(PLAIN_NIC, {{ifrec::IPV6_ERROR, {1}}}))}, 165,
     put(PLAIN_NIC, {{ifrec::IPV6_ERROR, {1}}}), {}, AS_FWD, "00000002"},
    {"ready without a record", {"inject 77 3"}, NO_FRAME, {}, {"Invalid nic_info\n"}, AS_FWD, ""},
};

// A daemon in a fresh sysroot with operator 2 in the store (its
// device-management client takes WAP pushes), and a log listener from the
// start on.
class Indications : public ::testing::Test {
protected:
    void start(const std::string& modem_conf)
    {
        ASSERT_TRUE(root.confdb_set("ltenv info operator 2"));
        root.write_file("/etc/ltesim.conf", modem_conf);
        ASSERT_TRUE(daemon.start());
        sim.emplace(root);
        ASSERT_TRUE(sim->connected());
        tail.emplace(root);
        ASSERT_TRUE(tail->open());
    }
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }

    // Waits for `lines` on the log channel, each after the one before it,
    // all after offset `from`.
    void expect_lines(size_t from, const Lines& lines)
    {
        for (const std::string& line : lines) {
            size_t at = std::string::npos;
            ASSERT_TRUE(eventually([&] { return (at = tail->text().find(line, from)) != std::string::npos; }))
                << "no line, or out of order: " << line << "\nafter\n" << tail->text().substr(from);
            from = at + line.size();
        }
    }
    std::string platform_calls() const { return root.read_file("/var/log/platform-calls.log"); }

    Sysroot root;
    Daemon daemon{root};
    std::optional<LtesimClient> sim;
    std::optional<LogTail> tail;
};

class IndForward : public Indications {
protected:
    void SetUp() override
    {
        // The modem answers none of the bring-up chain's requests: the
        // injected records and the steps' answers are the only indications.
        start("set delay_ms 0\nfail LAPI_GetCrashLogRequest 1\nfail LAPI_PSInitRequest 1\n"
              "fail LAPI_GetProtocolInfoRequest 1\nfail LAPI_OnlineRequest 1\n");
        ASSERT_EQ("ok", sim->command("sync")) << "the insert at start-up is past";
        for (RawClient* c : {&a, &b, &quiet})
            ASSERT_TRUE(c->open({{5, 0}}).has_value());
        a.subscribe_all();
        b.subscribe_all();
    }

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
        const Bytes want = Bytes{0x81, 0x07} + be(8 + n, 2) + be(r.event, 2) + be(4 + n, 2) + be(r.dev) + r.fwd;
        EXPECT_EQ(want, r.fwd_size == AS_FWD ? *f : head(*f, 12));
    }

    RawClient a{root, "a"}, b{root, "b"}, quiet{root, "quiet"};
};

TEST_F(IndForward, EachRecordPrintsForwardsAndDoesWhatIsItsOwn)
{
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const size_t from = tail->text().size();
        run(r);
        expect_lines(from, r.lines);
        // A frame that should not have come shows up at the next row.
        if (r.event != NO_FRAME) {
            expect_frame(a, r);
            expect_frame(b, r);
        }
        const Lines calls = sim->calls();
        if (r.configure) {
            Lines ops;
            for (const std::string& c : calls)
                if (c.starts_with("LAPI_ConfigureNetworkInterface "))
                    ops.push_back(c.substr(c.size() - 8));
            EXPECT_EQ(*r.configure ? Lines{r.configure} : Lines{}, ops);
        }
        if (r.call) {
            EXPECT_NE(calls.end(), std::ranges::find(calls, r.call)) << ::testing::PrintToString(calls);
        }
        if (r.platform) {
            EXPECT_TRUE(eventually([&] { return platform_calls().find(r.platform) != std::string::npos; }))
                << platform_calls();
        }
    }
    EXPECT_TRUE(daemon.running());
    EXPECT_EQ(std::string::npos, platform_calls().find("reboot"));
    EXPECT_FALSE(a.recv(300ms).has_value()) << "nothing more";
    EXPECT_FALSE(quiet.recv(300ms).has_value()) << "an unsubscribed client gets nothing";
    // A download answer of a device beyond the table finds no session; one
    // of a device without a download says how it ended.
    const size_t from = tail->text().size();
    ASSERT_EQ("ok", sim->command("inject 66 128 00000000"));
    ASSERT_EQ("ok", sim->command(inject(66, {0, 0, 0, 0})));
    expect_lines(from, {"download complete [dev index : 3]"});
    EXPECT_EQ(std::string::npos, tail->text().find("[dev index : 128]", from));
}

// Operator 2 in the modem's answers too; the bring-up sets SMS over IMS
// (configuration type 1), keeps camping after a detach and sets the
// carrier-aggregation mode.
class OperatorFollowUps : public Indications {
protected:
    void SetUp() override
    {
        for (const char* setting : {"sms_over_ims 1", "keep_camp_on_after_detach 1", "intra_band_ca_mode 2"})
            ASSERT_TRUE(root.confdb_set(std::string("config wan lte modem ") + setting));
        start("set operator 2\n");
        ASSERT_TRUE(sim->wait_online());
        // The bring-up asked for the operator; its answer asked once for the
        // operator's own settings (type 6 with the operator code, 2).
        ASSERT_TRUE(eventually([&] { return operator_specific_requests() == 1; }))
            << ::testing::PrintToString(sim->calls());
        // It kept camping and set the carrier-aggregation mode, once each.
        for (const char* call : {"LAPI_KeepCampOnAfterDetachRequest dev=1",
                                 "LAPI_RRCCapabilityControlRequest dev=1 000b0006000000000002"})
            EXPECT_EQ(1, std::ranges::count(sim->calls(), call)) << call;
    }
    int operator_specific_requests()
    {
        const auto calls = sim->calls();
        return static_cast<int>(std::ranges::count_if(calls, [](const std::string& c) {
            return c.starts_with("LAPI_GetProtocolInfoRequest") && c.ends_with(" 000602");
        }));
    }
};

TEST_F(OperatorFollowUps, TheOperatorAnswerAsksForTheOperatorsSettingsOnce)
{
    ASSERT_EQ("ok", sim->command("inject 91 1 0000000502"));
    ASSERT_TRUE(tail->wait_for("\nCURRENT OPERATOR(DEV_IDX(1)) : Verizon\n"));
    ASSERT_EQ("ok", sim->command("sync"));
    EXPECT_EQ(1, operator_specific_requests());
}

TEST_F(OperatorFollowUps, AFoundPlmnChangesTheSmsConfigurationOnce)
{
    // Operator 2 with IMS off: configuration type 0, SMS over IP networks
    // off and the format to 3GPP2, once; the next answer changes nothing.
    // The answer after each shows the handler has finished.
    const Lines first = {"LAPI_SendSmsConfChangeInd dev=1 00000000", "LAPI_SMSOVERIPNETWORKctrlRequest dev=1 00000000",
                         "LAPI_SMSFormatSetRequest dev=1 01"};
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ("ok", sim->command("clear"));
        ASSERT_EQ("ok", sim->command("inject 9 1 0000000001130000ff"));
        ASSERT_EQ("ok", sim->command("inject 15 1 0000000" + std::to_string(round)));
        ASSERT_TRUE(eventually([&] { return tail->count("PLMN LIST ABORT RESPONSE") == round + 1; }));
        Lines sms;
        for (const std::string& c : sim->calls())
            if (c.starts_with("LAPI_S"))
                sms.push_back(c);
        EXPECT_EQ(round == 0 ? first : Lines{}, sms) << "round " << round;
    }
}

}  // namespace
}  // namespace cnxd::test
