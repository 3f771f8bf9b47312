// The builder and check tables: each builder on its sample file of
// docs/param (or on command arguments) against the record written out by
// hand from the request layouts, and each check on the edge values of its
// ranges with the message it prints.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "param_fixture.h"

namespace cnxd::test {
namespace {

// Bytes at an offset of an otherwise zero record.
struct patch {
    size_t off;
    const char* hex;
};

std::vector<uint8_t> record(size_t size, const std::vector<patch>& patches)
{
    std::vector<uint8_t> rec(size);
    for (const patch& p : patches)
        for (size_t i = 0; p.hex[2 * i]; ++i)
            rec.at(p.off + i) = static_cast<uint8_t>(std::stoi(std::string(p.hex + 2 * i, 2), nullptr, 16));
    return rec;
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct build_case {
    const char* what;
    size_t kind;
    const char* sample;  // docs/param file written as the builder's file, or ""
    const char* file;    // else this text as the builder's file (nullptr: none)
    std::vector<const char*> args;
    int rc;
    std::vector<patch> expect;
    int check = -1;  // the request's check, which the record must pass
    const char* message = "";
};

const std::vector<build_case> BUILD_CASES = {
    // Samples.
    {"attach", 1, "attach.param", nullptr, {}, 0,
     {{0, "01"}, {2, "696e7465726e6574"}, {102, "02"}, {104, "75736572"}, {168, "736563726574"},
      {232, "01" "01" "0201" "01" "03" "01abff"}, {340, "01"}}, 1},
    {"PDN connectivity: the file's apn_name replaces the argument", 4, "pdn_connect.param", nullptr, {"internet"}, 0,
     {{1, "01"}, {2, "696d73"}, {102, "0101"}, {418, "01"}}, 4},
    {"log configuration", 24, "log_config.param", nullptr, {}, 0,
     {{0, "0101"}, {8, "00020003"}, {16, "0000000000100000"}, {24, "2f7661722f6c6f672f636d2e6c6f67"}, {280, "01"},
      {290, "0001"}}, 20},
    {"indication mask", 31, "ind_mask.param", nullptr, {}, 0,
     {{0, "010100000101010100000101010001000100000001"}}, 27},
    {"RF status report", 32, "rf_status_control.param", nullptr, {}, 0, {{0, "0001000a00050003012c"}}, 28},
    {"RF event control", 39, "rf_event_control.param", nullptr, {}, 0, {{0, "00010014000aff9200030002"}}, 33},
    {"bearer release", 13, "bearer_release.param", nullptr, {}, 0, {{0, "0005000600000002"}}, 11},
    {"PLMN search", 7, "plmn_search.param", nullptr, {}, 0, {{0, "010405000006000001"}}, 7},
    // Files of the edge cases.
    {"attach with optional_info 0 alone", 1, "", "optional_info=0\n", {}, 0, {}, 1},
    {"attach optional_info with a space", 1, "", "optional_info=1 \n", {}, -1, {}, -1,
     "[make_attach_req_param    ] Invalid parameter /var/lte/param/attach.param[optional_info]\n"},
    {"attach secure_pco is named securePCO", 1, "",
     "optional_info=1\npdn_type=0\nip_alloc=0\nauth_flag=0\nUSE_GENERAL_PCO=0\nUSE_OPERATOR_PCO=0\n"
     "attach_type=0\nrequest_type=0\nemergency_mode=0\nsecure_pco=x\n", {}, -1, {{0, "01"}}, -1,
     "Invalid parameter /var/lte/param/attach.param[securePCO]\n"},
    {"operator PCO data bounded by its length", 1, "",
     "optional_info=1\npdn_type=0\nip_alloc=0\nauth_flag=0\nUSE_GENERAL_PCO=0\nUSE_OPERATOR_PCO=1\n"
     "OPER_PCO_LENGTH=2\nOPER_PCO_DATA=0x01,0x02,0x03\n", {}, -1, {{0, "01"}, {236, "01020102"}}, -1,
     "too many argument"},
    // Argument-fed builders.
    {"loopback", 0, "", nullptr, {"1", "3", "500000", "30000"}, 0, {{0, "01030007a12000007530"}}, 0},
    {"detach", 3, "", nullptr, {"1"}, 0, {{0, "00000001"}}, 3},
    {"NID read", 21, "", nullptr, {"1", "5"}, 0, {{0, "0105"}}, 17},
    {"NID read without its EPS id", 21, "", nullptr, {"1"}, -1, {{0, "01"}}, -1,
     "[make_nid_read_req_param  ] Invalid #3 parameter\n"},
    {"DM log read of id 21", 25, "", nullptr, {"21", "0", "1", "0"}, 0, {{0, "0015000100"}}, 21},
    {"firmware download", 16, "", nullptr, {"4", "/tmp/fw.bin"}, 0, {{0, "2f746d702f66772e62696e"}, {128, "0004"}}, 14},
    {"offline extension", 42, "", nullptr, {"3"}, 0, {{0, "0003"}}, 36},
    {"MAC address", 17, "", nullptr, {"00-1a-2B-3c-4D-5e"}, 0, {{0, "001a2b3c4d5e"}}},
    {"MAC address with a bad digit", 17, "", nullptr, {"00-1a-2b-3c-4d-5g"}, -1, {}, -1, "Unknown Mac Address"},
    {"IMEI of 14 digits gets its check digit", 18, "", nullptr, {"49015420323751"}, 0, {{0, "084a09512430325781"}}},
    {"IMEI with a wrong check digit", 18, "", nullptr, {"490154203237517"}, -1, {}, -1, "!check_digit_valid"},
    {"IMEI too short", 18, "", nullptr, {"4901"}, -1, {}, -1, "make_change_imei_req_param argument length err"},
    // Not built here: the handlers report -2 as not yet implemented.
    {"attach extension", 2, "", nullptr, {}, PARAM_NOT_BUILT, {}},
    {"bearer allocation", 11, "", nullptr, {}, PARAM_NOT_BUILT, {}},
    {"UICC control", 35, "", nullptr, {"15"}, PARAM_NOT_BUILT, {}},
};

TEST_F(ParamTest, BuildersFillTheirRecords)
{
    for (const build_case& c : BUILD_CASES) {
        SCOPED_TRACE(c.what);
        const make_param_row& row = make_parameter.at(c.kind);
        if (*c.sample)
            write(row.file, read_text(std::string(CNXD_SOURCE_DIR) + "/docs/param/" + c.sample));
        else if (c.file)
            write(row.file, c.file);
        const param_args args{static_cast<int>(c.args.size()), c.args.data()};
        std::vector<uint8_t> rec(600, 0xee);
        EXPECT_EQ(c.rc, param_make(c.kind, rec, {row.file, &args}));
        if (c.rc != PARAM_NOT_BUILT) {
            rec.resize(row.size);
            EXPECT_EQ(hex(record(row.size, c.expect)), hex(rec));
        }
        const std::string text = take_printed();
        if (*c.message) {
            EXPECT_NE(std::string::npos, text.find(c.message)) << text;
        } else {
            EXPECT_EQ("", text);
        }
        if (c.check >= 0) {
            EXPECT_EQ(0, param_check(static_cast<size_t>(c.check), rec));
        }
        if (c.file || *c.sample)
            std::filesystem::remove(root_ + row.file);
    }
}

TEST(ParamTables, SamplesAreAllBuiltAndBuilderAndCheckNumbersDiffer)
{
    std::set<std::string> tested;
    for (const build_case& c : BUILD_CASES)
        if (*c.sample)
            tested.insert(c.sample);
    size_t samples = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(CNXD_SOURCE_DIR) + "/docs/param")) {
        const std::string name = entry.path().filename();
        if (!name.ends_with(".param"))
            continue;
        ++samples;
        EXPECT_TRUE(tested.contains(name)) << name << " is not read by its builder in BUILD_CASES";
    }
    EXPECT_EQ(tested.size(), samples);

    EXPECT_STREQ("make_bearer_resource_alloc_req_param", make_parameter[11].name);
    EXPECT_STREQ("bearer_resource_alloc_req_param_check", parameter_check[9].name);
    EXPECT_STREQ("make_plmn_cfg_set_req_param", make_parameter[48].name);
    EXPECT_STREQ("plmn_cfg_set_param_check", parameter_check[37].name);
    std::vector<uint8_t> rec(600);
    EXPECT_EQ(-1, param_make(MAKE_PARAMETER_COUNT, rec, {}));
    EXPECT_EQ(-1, param_check(PARAMETER_CHECK_COUNT, rec));
    EXPECT_EQ(-1, param_make(1, std::span(rec).first(351), {filepath_attach_param, nullptr}));
}

struct check_case {
    size_t kind;
    std::vector<patch> rec;
    int rc;
    const char* message;
};

const std::vector<check_case> CHECK_CASES = {
    {0, {{0, "0103"}, {2, "0007a120"}, {6, "00007530"}}, 0, ""},
    {0, {{0, "0103"}, {2, "0007a121"}}, -1, "[loopback_start_param_check] Loopback count should be smaller than 500,000\n"},
    {0, {{0, "0106"}}, -1, "Unknown Transfer Type : 6 (TRANSFER TYPE : 3~5)\n"},
    {1, {}, 0, ""},
    {1, {{0, "00"}, {338, "08"}}, 0, ""},
    {1, {{0, "02"}}, -1, "[attach_req_param_check   ] Unknown optional infon flag type : 2 (optiona info flag : 0~1)\n"},
    {1, {{0, "01"}, {338, "07"}, {339, "02"}, {341, "01"}}, 0, ""},
    {1, {{0, "01"}, {338, "08"}}, -1, "Unknown APN Type : 8 (APN_TYPE : 0~4)\n"},
    {1, {{0, "01"}, {102, "03"}}, -1, "Unknown PDN type : 3 (Authentication Protocol : 0~2)\n"},
    {3, {{0, "00000002"}}, -1, "Unknown Detach Type : 2 (Detach Type : 0 ~ 1)\n"},
    {4, {{0, "03"}}, -1, "Unknown PDN Connect Request Type : 3 (PDN Connect Request Type : 0 ~ 2)\n"},
    {4, {{1, "01"}, {410, "08"}}, -1, "Unknown APN Type : 8"},
    {6, {{0, "0004"}}, -1, "[pdn_disconnect_req_param_check] Unknown default EPS id : 4 (default EPS id : 5 ~ 31)\n"},
    {6, {{0, "0005"}}, 0, ""},
    {6, {{0, "001f"}}, 0, ""},
    {6, {{0, "0020"}}, -1, "Unknown default EPS id : 32"},
    {8, {{0, "0000ffff"}}, 0, ""},
    {8, {{0, "00010000"}}, -1, "Unknown service type: 10000"},
    {9, {}, PARAM_NOT_BUILT, ""},
    {11, {{4, "00000004"}}, 0, ""},
    {11, {{4, "00000005"}}, -1, "Unknown packet filter ids: 5\n"},
    {13, {{0, "3f01"}}, 0, ""},
    {13, {{0, "4001"}}, -1, "Unknown Set GPIO PIN Number : 64 (GPIO PIN Number : 1 ~ 63)\n"},
    {14, {{128, "0003"}}, -1, "Unknown Binary Donwload Type : 3\n"},
    {14, {{128, "0005"}}, 0, ""},
    {16, {{0, "03"}}, -1, "Unknown MOBILE ID TYPE : 3 (MOBILE ID Type : 1 ~ 3)\n"},
    {17, {{0, "0100"}}, -1, "(default EPS id : 1 ~ 15)\n"},
    {17, {{0, "010f"}}, 0, ""},
    {17, {{0, "0001"}}, -1, "Unknown default EPS id : 1 (default EPS id : 0)\n"},
    {17, {{0, "0000"}}, 0, ""},
    {19, {{0, "00000001"}}, 0, ""},
    {20, {}, -1, "Unknown log info level: 0 (Set CM 0 ~ 4)\n"},
    {20, {{10, "0003"}, {288, "0004"}, {290, "0001"}}, 0, ""},
    {20, {{10, "0003"}, {288, "0005"}, {290, "0001"}}, -1, "Unknown log info mode: 5 (Set CM 0 ~ 5)\n"},
    {21, {{0, "0015"}}, 0, ""},
    {21, {{0, "0016"}}, -1, "Unknown DM Log ID : 22 (DM LOG ID : 0 ~ 18)\n"},
    {27, {{20, "02"}}, -1, "Unknown Indication Mask : 2 (Indication Mask : 0 ~ 1)\n"},
    {30, {{0, "07"}}, -1, "Unknown Device DBEUG Level : 7"},
    {33, {{0, "0002"}, {6, "ff6a"}}, 0, ""},
    {33, {{6, "ff69"}}, -1, "Too small initail value: -151 (initail value should be lager than -150(dBm))\n"},
    {36, {{0, "0004"}}, -1, "Unknown Offline Type : 4 (Offline Type : 0 ~ 3)\n"},
    {37, {{0, "0001"}}, 0, ""},
    {37, {{0, "0002"}}, -1, "Invalid PLMN Configuration Set request type : 2\n"},
};

TEST_F(ParamTest, ChecksRejectWhatLiesOutsideTheirRanges)
{
    for (const check_case& c : CHECK_CASES) {
        SCOPED_TRACE(std::string(parameter_check.at(c.kind).name) + " " + (c.rec.empty() ? "" : c.rec[0].hex));
        EXPECT_EQ(c.rc, param_check(c.kind, record(600, c.rec)));
        const std::string text = take_printed();
        if (*c.message) {
            EXPECT_NE(std::string::npos, text.find(c.message)) << text;
        } else {
            EXPECT_EQ("", text);
        }
    }
}

}  // namespace
}  // namespace cnxd::test
