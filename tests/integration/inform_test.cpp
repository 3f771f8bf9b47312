// The informational indications that do more than print, and the
// connection answers with every field of their records filled: what a log
// listener reads for each, the platform commands they run (the sysroot's
// stubs), and the operator answer's once-only follow-up request.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <sstream>
#include <string_view>
#include <utility>

#include "base/be.h"
#include "integration/harness.h"

namespace cnxd::test {
namespace {

constexpr uint32_t DEV = 1;

struct Case {
    const char* what;
    int id;                          // SDK callback id
    std::string hex;                 // the record
    std::vector<std::string> lines;  // what the log channel shows, in order
    std::string platform_call;       // a stub's line, or empty
};

std::string apn_entry_hex()
{
    Bytes e(214, 0);
    e[0] = 1;  // enabled
    e[2] = 3;  // label length
    std::copy_n("lte", 3, e.begin() + 3);
    e[13] = 8;  // network identifier length
    std::copy_n("internet", 8, e.begin() + 14);
    e[82] = 0x01;  // inactivity timer 300
    e[83] = 0x2c;
    return "0000000201" + hex(e);
}

std::string icmpv6_hex()
{
    Bytes r(200, 0);
    store_be16(&r[0], 0x0102);
    store_be16(&r[2], 0x0304);
    r[36] = 64;    // hop limit
    r[134] = 64;   // prefix length
    r[135] = 0x20;  // prefix 2001:db8::
    r[136] = 0x01;
    r[137] = 0x0d;
    r[138] = 0xb8;
    return hex(r);
}

// ---- Connection answers, every field filled ----------------------------------

// `text` at `at`, its length byte in front.
void put_text(Bytes& r, size_t at, std::string_view text)
{
    r[at] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), r.begin() + static_cast<long>(at) + 1);
}

void put(Bytes& r, size_t at, std::initializer_list<uint8_t> bytes)
{
    std::copy(bytes.begin(), bytes.end(), r.begin() + static_cast<long>(at));
}

using Lines = std::vector<std::string>;

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The PDN information (177 bytes at `at`).
Lines put_pdn_info(Bytes& r, size_t at)
{
    put_text(r, at, "admin");                                         // APN length, APN (100)
    put(r, at + 101, {2, 50});                                        // PDN type, cause
    put(r, at + 103, {10, 0, 0, 2});                                  // IPv4
    put(r, at + 107, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2});
    put(r, at + 123, {10, 0, 0, 9});                                  // P-CSCF IPv4
    put(r, at + 127, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9});
    put(r, at + 143, {2, 0xab, 0xcd});                                // operator-specific length, bytes (16)
    r[at + 160] = 9;                                                  // QCI
    for (uint32_t i = 0; i < 4; ++i)                                  // UL/DL MBR, UL/DL GBR
        store_be32(&r[at + 161 + 4 * i], 1000 * (i + 1));
    return {"APN Name : admin\n", "PDN Type : 2\n", "PDN Cause : 50\n", "IPv4 Address : 10.0.0.2\n",
            "IPv6 Address : 2001:db8::2\n", "P-CSCF IPv4 Address : 10.0.0.9\n", "P-CSCF IPv6 Address : 2001:db8::9\n",
            "Operator Specific Data : ab cd \n", "QCI : 9\n", "UL MBR : 1000\n", "DL MBR : 2000\n", "UL GBR : 3000\n",
            "DL GBR : 4000\n"};
}

// The attach answer: head, NI, the PDN information and the tail (268 bytes)
// with every optional part present.
std::pair<std::string, Lines> attach()
{
    Bytes r(2192, 0);
    put(r, 0, {0x10, 0x01, 0, 2, 0, 3, 0, 5, 0, 6, 1, 1});  // results, reason, bearers, data path, allocation
    put_text(r, 12, "internet");
    Lines lines = {"\nATTACH RESPONSE(DEV_IDX(1))\n", "Register result1 : 4097\n", "Register result2 : 2\n",
                   "Lower layer reason : 3\n", "Default EPS ID : 5\n", "EPS ID : 6\n", "Data Path : 1\n",
                   "IP Alloc Type : 1\n", "Attach NI length : 8\n", "Attach NI : internet\n"};
    lines = lines + put_pdn_info(r, 113);
    const size_t t = 113 + 177;
    put(r, t, {1, 1, 1, 1, 1, 2, 18, 0x05, 0x78});  // feature flags, attach result, ESM cause, MTU
    put(r, t + 9, {3, 0x27, 0x80, 0x00});           // operator PCO (128)
    store_be32(&r[t + 138], 720);                   // T3402
    store_be32(&r[t + 142], 50000);                 // UL APN AMBR
    store_be32(&r[t + 146], 100000);                // DL APN AMBR
    put(r, t + 150, {2, 1});                        // two emergency numbers (12 bytes each)
    put_text(r, t + 152, "911");
    r[t + 163] = 2;
    put_text(r, t + 164, "112");
    put_text(r, t + 247, "5551234567");  // MSISDN (20)
    return {hex(r), lines + Lines{"IMS VoPS : 1\n", "EMC BS : 1\n", "EPC LCS : 1\n", "CS LCS : 1\n", "ESR PS : 1\n",
                                  "EPS Attach result : 2\n", "ESM cause : 18\n", "EPS IPv4 Link MTU : 1400\n",
                                  "OPERATOR PCO Encoded Data : [ 27 80 00 ]\n", "T3402 : 720\n",
                                  "UL APN AMBR : 50000\n", "DL APN AMBR : 100000\n", "Emergency Number[0]\n",
                                  "Service Category : 1\n", "Number : 911\n", "Emergency Number[1]\n",
                                  "Service Category : 2\n", "Number : 112\n", "MSISDN : 5551234567\n"}};
}

// The PDN connectivity answer: head, data path, allocation, NI, the PDN
// information, MTU, operator PCO (128) and AMBRs.
std::pair<std::string, Lines> pdn_connectivity()
{
    Bytes r(747, 0);
    put(r, 0, {0, 7, 0, 8, 0, 9, 0, 11, 1, 1});
    put_text(r, 10, "internet");
    Lines lines = {"\nPDN CONNECTIVITY RESPONSE(DEV_IDX(1))\n", "Result : 7\n", "RejectCause1 : 8\n",
                   "RejectCause2 : 9\n", "Default EPS ID : 11\n", "Data Path : 1\n", "IP Alloc Type : 1\n",
                   "NI length : 8\n", "NI : internet\n"};
    lines = lines + put_pdn_info(r, 111);
    put(r, 288, {0x05, 0xdc, 2, 0xfe, 0xed});  // MTU, operator PCO
    store_be32(&r[419], 30000);
    store_be32(&r[423], 60000);
    return {hex(r), lines + Lines{"EPS IPv4 Link MTU : 1500\n", "OPERATOR PCO Encoded Data : [ fe ed ]\n",
                                  "UL APN AMBR : 30000\n", "DL APN AMBR : 60000\n"}};
}

// The PDN disconnect answer: head, NI, and the operator PCO filling the
// record (66 bytes).
std::pair<std::string, Lines> pdn_disconnect()
{
    Bytes r(176, 0);
    put(r, 0, {0, 101, 0, 12, 0, 13, 0, 11});
    put_text(r, 8, "internet");
    r[109] = 66;
    std::string pco = "OPERATOR PCO Encoded Data : [ ";
    for (size_t i = 0; i < 66; ++i) {
        r[110 + i] = static_cast<uint8_t>(0xc0 + i);
        pco += hex(Bytes{r[110 + i]}) + " ";
    }
    return {hex(r), {"\nPDN DISCONNECT RESPONSE(DEV_IDX(1))\n", "Result : 101\n", "RejectCause1 : 12\n",
                     "RejectCause2 : 13\n", "Default EPS ID : 11\n", "NI length : 8\n", "NI : internet\n",
                     pco + "]\n"}};
}

Case connection_answer(const char* what, int id, std::pair<std::string, Lines> record)
{
    return {what, id, record.first, record.second, ""};
}

const Case cases[] = {
    connection_answer("attach answer", 2, attach()),
    connection_answer("PDN connectivity answer", 6, pdn_connectivity()),
    connection_answer("PDN disconnect answer", 8, pdn_disconnect()),
    {"unknown operator code", 91, "0000000509", {"\nCURRENT OPERATOR(DEV_IDX(1)) : Unknown(9)\n"}, ""},
    {"operational mode", 91, "00000000010001", {"SELF CELL SEARCH : ENABLE\n", "SELF ATTACH : DISALBE\n"}, ""},
    {"DRX", 91, "000000080309", {"\nDRX INFO(DEV_IDX(1))\n", "DRX VAL : T=128\n", "Invalid NON DRX TIMER (9)\n"}, ""},
    {"non-DRX 4 s", 91, "000000080003", {"NON DRX TIMER : max. 4 sec non-DRX mode after transfer state\n"}, ""},
    {"one APN entry", 91, apn_entry_hex(),
     {"APN INDEX : 1\n", "ENABLED : 1\n", "PDN LABEL : lte\n", "NI LEN: 8\n", "APN NI : internet\n", "INCAT TIMER : 300\n"},
     ""},
    {"failed answer", 91, "00030007", {"\nGET PROTOCOL INFO ERROR RESULT : 3 (TYPE 7/DEV1)\n"}, ""},
    {"set answer", 92, "0002000003", {"Protocol info type : 2\n", "Result : 0\n", "INDEX : 3\n"}, ""},
    {"timer", 95, "0000000300000002", {"TimerID : T3402\n", "TimerStatus : EXPIRE\n"}, ""},
    {"unknown timer", 95, "0000000900000000", {"TimerID : Unknown(00000009)\n"}, ""},
    {"no timer", 95, "ffffffff00000000", {"Invalid Timer ID : ffffffff\n"}, ""},
    {"RRC attempts", 133, "010005", {"Event : RRC retry couynt reached to maximum\n", "RRC Retry Count : 5\n"}, ""},
    {"attach attempts", 133, "000002", {"Attach Retry Count : 2\n"}, ""},
    {"power saving on", 159, "0001000a00000064", {"  t3324 : 10\n", "  ext3412 : 100\n"}, "kern pm psm 180"},
    {"power saving off", 159, "0101000a00000064", {"  status : 1\n"}, "kern pm psm 0"},
    {"router information", 113, icmpv6_hex(), {"Hop Limit : 64\n", "Prefix Length : 64\n"}, ""},
    {"vendor TLVs", 116, "0014" "00020007" "010301003c0000" "00030000" "00090001ff",
     {"Total buffer Length = 20\n", "tlv type = 2\n", "tlv try count = 3\n", "tlv val status 5nd = 0x00\n",
      "ATT Max Timer of TRRC Cfg : timer= 60\n", "ATT Max Timer of TRRC Cfg : result= FAIL\n",
      "User Registration Confirm\n", "tlv len = 1\n", "Not supported tlv type\n"},
     ""},
    {"UICC status", 73, "000000000000" "0102030405060708" "98101432547698103254",
     {"Card State : 1\n", "PUK1 Retry Count : 5\n", "PUK2 Retry Count : 8\n", "ICCID : 98 10 14 32 54 76 98 10 32 54 \n"},
     ""},
    {"UICC read binary", 73, "000000000001" "9000" "0002" "9f2a",
     {"UICC Read Binary\n", "SW1 : 90\n", "SW2 : 0\n", "Data Len : 2\n", "Data : 9f 2a \n"}, ""},
    {"UICC read of all records", 73, "000000000002" "9000" "000203" "0006" "616263646566",
     {"UICC Read Record\n", "Record Index : 0\n", "Record Count : 3\n", "Data : 61 62 63 64 65 66 \n"}, ""},
    {"UICC authenticate", 73, "000000000005" "9000" "00" "02dbdb" + std::string(28, '0') + "01ee" +
                                  std::string(98, '0') + "0102030405060708",
     {"UICC Authenticate\n", "RES : db db \n", "CK : ee \n", "IK Len : 0\n", "Kc : 01 02 03 04 05 06 07 08 \n"}, ""},
    {"UICC PIN status", 73, "000000000007" "010302" "000000" "020a00",
     {"UICC PIN STATUS\n", "PIN[0]\n", "Retry Count : 3\n", "PIN[2]\n", "State : 2\n", "Retry Count : 10\n"}, ""},
    {"UICC envelope", 73, "00000000000c" "9000" "0001" "d0", {"UICC USAT ENVELOPE\n", "Response : d0 \n"}, ""},
    {"UICC failure", 73, "000500000007", {"UICC INFO RESPONSE FAILED(5)(type : 7)\n"}, ""},
    {"UICC refresh start", 74, "0000" "01" "04" "02" "04" "3f002fe2" + std::string(56, '0') + "02a0b0",
     {"Indication Type : 0\n", "Slot : 1\n", "Refresh Mode : 4\n", "File List : 3f 00 2f e2 \n", "AID : a0 b0 \n"}, ""},
    {"UICC BIP proactive command", 74, "0002" "00" "0740010102" "c1c2",
     {"Command Type : 40\n", "Command Qualifier : 1\n", "Channel ID : 1\n", "Data : c1 c2 \n"}, ""},
    {"UICC PUK indication", 74, "0004" "00" "0109", {"PUK Type : 1\n", "PUK Retry Count : 9\n"}, ""},
    {"WAP push", 144, "0000000700" "02abcd", {"teleId=7\n", "numField=2\n", "field : ab cd \n"}, "ota_dm_cli run ni abcd"},
};

class Inform : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Operator 2 in the store (the device-management client takes WAP
        // pushes) and in the modem's answers.
        ASSERT_TRUE(root.confdb_set("ltenv info operator 2"));
        root.write_file("/etc/ltesim.conf", "set operator 2\n");
        // The bring-up sets SMS over IMS (configuration type 1).
        ASSERT_TRUE(root.confdb_set("config wan lte modem sms_over_ims 1"));
        ASSERT_TRUE(daemon.start());
        sim.emplace(root);
        ASSERT_TRUE(sim->wait_online());
        tail.emplace(root);
        ASSERT_TRUE(tail->open());
    }
    void TearDown() override { EXPECT_EQ(0, daemon.stop(SIGTERM)); }

    std::string platform_calls() const { return root.read_file("/var/log/platform-calls.log"); }
    int operator_specific_requests()
    {
        const auto calls = sim->calls();
        return static_cast<int>(std::ranges::count_if(calls, [](const std::string& c) {
            return c.starts_with("LAPI_GetProtocolInfoRequest") && c.ends_with(" 000602");
        }));
    }

    Sysroot root;
    Daemon daemon{root};
    std::optional<LtesimClient> sim;
    std::optional<LogTail> tail;  // once the daemon serves
};

TEST_F(Inform, EachActingHandlerPrintsWhatItCarriesAndRunsItsCommand)
{
    for (const Case& c : cases) {
        size_t from = tail->text().size();
        ASSERT_EQ("ok", sim->command("inject " + std::to_string(c.id) + " " + std::to_string(DEV) + " " + c.hex))
            << c.what;
        // Each line after the one before it, all after the injection.
        for (const std::string& line : c.lines) {
            size_t at = std::string::npos;
            ASSERT_TRUE(eventually([&] { return (at = tail->text().find(line, from)) != std::string::npos; }, 5s))
                << c.what << ": no line, or out of order: " << line << "\nafter\n" << tail->text().substr(from);
            from = at + line.size();
        }
        if (!c.platform_call.empty()) {
            EXPECT_TRUE(eventually([&] { return platform_calls().find(c.platform_call) != std::string::npos; }, 5s))
                << c.what << ": " << platform_calls();
        }
    }
    EXPECT_EQ(std::string::npos, platform_calls().find("reboot"));
    const auto calls = sim->calls();
    EXPECT_NE(calls.end(), std::ranges::find(calls, "LAPI_IPV6_ICMP_Set_Request dev=1 0304010220010db8000000000000000000000000"))
        << "the router information back with its NI ids swapped: " << ::testing::PrintToString(calls);
}

TEST_F(Inform, TheOperatorAnswerAsksForTheOperatorsSettingsOnce)
{
    // The bring-up asked for the operator; its answer asked once for the
    // operator's own settings (type 6 with the operator code, 2).
    ASSERT_TRUE(eventually([&] { return operator_specific_requests() == 1; }, 5s)) << ::testing::PrintToString(sim->calls());
    ASSERT_EQ("ok", sim->command("inject 91 1 0000000502"));
    ASSERT_TRUE(tail->wait_for("\nCURRENT OPERATOR(DEV_IDX(1)) : Verizon\n"));
    ASSERT_EQ("ok", sim->command("sync"));
    EXPECT_EQ(1, operator_specific_requests());
}

TEST_F(Inform, AFoundPlmnChangesTheSmsConfigurationOnce)
{
    ASSERT_TRUE(eventually([&] { return operator_specific_requests() == 1; }, 5s)) << "the bring-up is over";
    // Operator 2 with IMS off: configuration type 0, SMS over IP networks
    // off and the format to 3GPP2, once; the next answer changes nothing. The answer after it
    // shows the handler has finished.
    const std::vector<std::string> first = {"LAPI_SendSmsConfChangeInd dev=1 00000000",
                                            "LAPI_SMSOVERIPNETWORKctrlRequest dev=1 00000000",
                                            "LAPI_SMSFormatSetRequest dev=1 01"};
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ("ok", sim->command("clear"));
        ASSERT_EQ("ok", sim->command("inject 9 1 0000000001130000ff"));
        ASSERT_EQ("ok", sim->command("inject 15 1 0000000" + std::to_string(round)));
        ASSERT_TRUE(tail->wait_for("\nPLMN LIST ABORT RESPONSE(DEV_IDX(1))\n", 5s));
        ASSERT_TRUE(eventually([&] { return tail->count("PLMN LIST ABORT RESPONSE") == round + 1; }, 5s));
        std::vector<std::string> sms;
        for (const std::string& c : sim->calls())
            if (c.starts_with("LAPI_S"))
                sms.push_back(c);
        EXPECT_EQ(round == 0 ? first : std::vector<std::string>{}, sms) << "round " << round;
    }
}

}  // namespace
}  // namespace cnxd::test
