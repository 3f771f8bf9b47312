// The parameter-file readers, the value checks of the shell's arguments
// and the range checks of the request records, each edge one row: what
// they return, store and print at the error level (through the SDK's print
// callback). The shell's rows (tests/integration/cli_shell_test.cpp) carry
// the builders and the checks its command lines reach.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/be.h"
#include "base/path.h"
#include "dm/log_paths.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "modem/cm_printf.h"
#include "param/param.h"
#include "param/param_read.h"
#include "sim.h"

namespace cnxd::test {
namespace {

std::string printed;

void catch_print(const char* fmt, ...)
{
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    printed += buf;
}

// A throw-away sysroot (CNXD_ROOT) with the parameter paths at their
// defaults; what was printed is caught.
class ParamTest : public ::testing::Test {
protected:
    ParamTest()
    {
        char tmpl[] = "/tmp/cnxd-param-XXXXXX";
        root_ = mkdtemp(tmpl);
        setenv("CNXD_ROOT", root_.c_str(), 1);
        cnxd_reload_root();
        unsetenv("LTE_PARAM_DIR");
        set_log_file_paths();
        std::filesystem::create_directories(root_ + PARAM_DIR_DEFAULT);
        EXPECT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> config{};
        uint8_t* cm = config.data() + LAPI_LOG_CM_BLOCK;
        store_be16(cm + LAPI_LOG_BLOCK_MODE, LAPI_LOG_MODE_CALLBACK);
        store_be16(cm + LAPI_LOG_BLOCK_LEVEL, CM_ERR);
        store_be32(cm + LAPI_LOG_BLOCK_CALLBACK, sdk_addr_to_word(reinterpret_cast<const void*>(&catch_print)));
        EXPECT_EQ(0, LAPI_SetLogConfig(hAPI, 0, config.data()));
        printed.clear();
    }
    ~ParamTest() override
    {
        LAPI_LTEAPIClose(hAPI);
        std::filesystem::remove_all(root_);
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
    }

    // What was printed since the last call: `message` among it, or nothing
    // when `message` is empty.
    static void expect_printed(const char* message)
    {
        std::string text;
        text.swap(printed);
        if (*message) {
            EXPECT_NE(std::string::npos, text.find(message)) << text;
        } else {
            EXPECT_EQ("", text);
        }
    }

    std::string root_;
};

constexpr const char* FILE_PATH = "/var/lte/param/test.param";

enum class rd { dec, sdec, hex, str, list, hexlist, bits, exist };

struct reader_case {
    const char* what;
    std::string file;
    rd reader;
    const char* tag;
    size_t width;  // str: the maximum length; lists: element width
    size_t max;    // lists: most elements
    int rc;
    const char* dest;  // hex of the 8 destination bytes afterwards
    const char* message = "";
};

const reader_case READER_CASES[] = {
    // Locating the value.
    {"value after the last '='", "a=b=7\n", rd::dec, "a", 1, 0, 0, "07eeeeeeeeeeeeee"},
    {"prefix match takes the longer tag's line", "optional_infox=3\noptional_info=4\n", rd::dec, "optional_info", 1, 0,
     0, "03eeeeeeeeeeeeee"},
    {"first of two lines wins", "n=1\nn=2\n", rd::dec, "n", 1, 0, 0, "01eeeeeeeeeeeeee"},
    {"tag only at a line start", "# n=5\n n=6\n", rd::dec, "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"CR ends the value", "n=9\r\n", rd::dec, "n", 1, 0, 0, "09eeeeeeeeeeeeee"},
    {"last line without a line end", "n=12", rd::dec, "n", 2, 0, 0, "000ceeeeeeeeeeee"},
    {"a line piece past 1023 characters is no line start", std::string(1030, 'x') + "n=1\n", rd::dec,
     "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    // Unsigned decimal.
    {"space after the value fails", "optional_info=1 \n", rd::dec, "optional_info", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"space before the value fails", "n= 1\n", rd::dec, "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"empty value fails", "n=\n", rd::dec, "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"absent tag fails", "m=1\n", rd::dec, "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"width 1 takes 255", "n=255\n", rd::dec, "n", 1, 0, 0, "ffeeeeeeeeeeeeee"},
    {"width 1 refuses 256", "n=256\n", rd::dec, "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"width 4 is not range-limited", "n=2147483647\n", rd::dec, "n", 4, 0, 0, "7fffffffeeeeeeee"},
    {"ten digits saturate as atoi does", "n=4294967297\n", rd::dec, "n", 4, 0, 0, "7fffffffeeeeeeee"},
    {"ten digits never wrap into width 1", "n=4294967297\n", rd::dec, "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"eleven digits fail", "n=00000000001\n", rd::dec, "n", 4, 0, -1, "eeeeeeeeeeeeeeee"},
    {"width 8 sign-extends the 32-bit value", "v=-300000000\n", rd::sdec, "v", 8, 0, 0, "ffffffffee1e5d00"},
    {"width 8 small value", "n=258\n", rd::dec, "n", 8, 0, 0, "0000000000000102"},
    {"minus sign is no digit", "n=-1\n", rd::dec, "n", 2, 0, -1, "eeeeeeeeeeeeeeee"},
    // Signed decimal.
    {"signed negative", "v=-150\n", rd::sdec, "v", 2, 0, 0, "ff6aeeeeeeeeeeee"},
    {"signed without range check", "v=300\n", rd::sdec, "v", 1, 0, 0, "2ceeeeeeeeeeeeee"},
    {"signed non-digit", "v=-1a\n", rd::sdec, "v", 2, 0, -1, "eeeeeeeeeeeeeeee"},
    // Hexadecimal.
    {"hex after two unread characters", "h=zz1F\n", rd::hex, "h", 1, 0, 0, "1feeeeeeeeeeeeee"},
    {"hex width 2", "h=0xBEEF\n", rd::hex, "h", 2, 0, 0, "beefeeeeeeeeeeee"},
    {"hex width 4", "h=0x0000ff00\n", rd::hex, "h", 4, 0, 0, "0000ff00eeeeeeee"},
    {"hex absent tag is no error", "x=1\n", rd::hex, "h", 2, 0, 0, "eeeeeeeeeeeeeeee"},
    {"hex empty value fails", "h=\n", rd::hex, "h", 2, 0, -1, "eeeeeeeeeeeeeeee"},
    {"hex too long for width 4 is ignored", "h=0x1234567890\n", rd::hex, "h", 4, 0, 0, "eeeeeeeeeeeeeeee"},
    {"hex too long for width 1 is ignored", "h=0x123\n", rd::hex, "h", 1, 0, 0, "eeeeeeeeeeeeeeee"},
    {"hex bad digit", "h=0xG1\n", rd::hex, "h", 1, 0, -1, "eeeeeeeeeeeeeeee", "Invalid Hex Data"},
    // Strings.
    {"string copied without terminator", "apn_name=ims\n", rd::str, "apn_name", 8, 0, 0, "696d73eeeeeeeeee"},
    {"string keeps spaces", "s= a \n", rd::str, "s", 8, 0, 0, "206120eeeeeeeeee"},
    {"empty string copies nothing", "apn_name=\n", rd::str, "apn_name", 8, 0, 0, "eeeeeeeeeeeeeeee"},
    {"absent string succeeds", "x=1\n", rd::str, "apn_name", 8, 0, 0, "eeeeeeeeeeeeeeee"},
    {"string longer than its maximum", "s=abcd\n", rd::str, "s", 3, 0, -1, "eeeeeeeeeeeeeeee"},
    // Decimal lists.
    {"two elements", "l=1,2\n", rd::list, "l", 1, 3, 2, "0102eeeeeeeeeeee"},
    {"width 2 elements", "l=258,3\n", rd::list, "l", 2, 3, 2, "01020003eeeeeeee"},
    {"trailing separator fails", "l=1,2,\n", rd::list, "l", 1, 3, -1, "0102eeeeeeeeeeee"},
    {"empty element ends the list", "l=1,,2\n", rd::list, "l", 1, 3, 1, "01eeeeeeeeeeeeee"},
    {"empty value with maximum 0", "l=\n", rd::list, "l", 1, 0, 0, "eeeeeeeeeeeeeeee"},
    {"empty value with a maximum fails", "l=\n", rd::list, "l", 1, 3, -1, "eeeeeeeeeeeeeeee"},
    {"one element too many", "l=1,2,3,4\n", rd::list, "l", 1, 3, -1, "010203eeeeeeeeee", "too manu_argument"},
    {"element out of the width's range", "l=1,256\n", rd::list, "l", 1, 3, -1, "01eeeeeeeeeeeeee"},
    {"width 8 is no list width", "l=1\n", rd::list, "l", 8, 1, -1, "eeeeeeeeeeeeeeee", "Unknown Parameter Type"},
    {"dotted list", "ip=10.0.0.1\n", rd::list, "ip", 1, 4, 4, "0a000001eeeeeeee"},
    // Hexadecimal lists.
    {"hex list", "d=0x01,0xab,0xFF\n", rd::hexlist, "d", 1, 8, 3, "01abffeeeeeeeeee"},
    {"hex list one too many", "d=0x01,0x02\n", rd::hexlist, "d", 1, 1, -1, "01eeeeeeeeeeeeee", "too many argument"},
    {"hex list bad digit", "d=0x01,0xq\n", rd::hexlist, "d", 1, 4, -1, "01eeeeeeeeeeeeee", "Invalid Hex Data"},
    // Bit lists (two 8-bit groups into a 16-bit field, the first group last).
    {"sixteen bits", "b=1,0,0,0,0,0,0,1,1,1,0,0,0,0,0,0\n", rd::bits, "b", 1, 16, 16, "0381eeeeeeeeeeee"},
    {"ten bits store the first eight", "b=1,1,0,0,0,0,0,0,1,1\n", rd::bits, "b", 1, 16, 10, "ee03eeeeeeeeeeee"},
    {"a bit of 2 fails", "b=1,2\n", rd::bits, "b", 1, 16, -1, "eeeeeeeeeeeeeeee"},
    {"more bits than the record holds", "b=1\n", rd::bits, "b", 1, 24, -1, "eeeeeeeeeeeeeeee"},
    {"seventeen bits", "b=0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n", rd::bits, "b", 1, 16, -1, "0000eeeeeeeeeeee",
     "too manu_argument"},
    // Whether a tag is there.
    {"exists", "T_REMOTEIPv4_00=1.2.3.4\n", rd::exist, "T_REMOTEIPv4_00", 0, 0, 1, "eeeeeeeeeeeeeeee"},
    {"does not exist", "T_PROTID_NEXT_HDR_00=6\n", rd::exist, "T_REMOTEIPv4_00", 0, 0, 0, "eeeeeeeeeeeeeeee"},
};

TEST_F(ParamTest, ReadersFollowTheFileFormat)
{
    for (const reader_case& c : READER_CASES) {
        SCOPED_TRACE(c.what);
        std::ofstream(root_ + FILE_PATH, std::ios::binary) << c.file;
        std::array<uint8_t, 8> dest;
        dest.fill(0xee);
        const char sep = std::string_view(c.tag) == "ip" ? '.' : ',';
        int rc = 0;
        switch (c.reader) {
        case rd::dec: rc = add_param_file(FILE_PATH, c.tag, c.width, dest); break;
        case rd::sdec: rc = add_signed_param_file(FILE_PATH, c.tag, c.width, dest); break;
        case rd::hex: rc = add_hexparam_file(FILE_PATH, c.tag, c.width, dest); break;
        case rd::str: rc = add_param_st_file(FILE_PATH, c.tag, dest, c.width); break;
        case rd::list: rc = add_separate_param_file(FILE_PATH, c.tag, c.width, sep, c.max, dest); break;
        case rd::hexlist: rc = add_separate_hexparam_file(FILE_PATH, c.tag, c.width, ',', c.max, dest); break;
        case rd::bits: rc = add_bit_param_file(FILE_PATH, c.tag, c.width, ',', c.max, std::span(dest).first(2)); break;
        case rd::exist: rc = check_exist_param(FILE_PATH, c.tag); break;
        }
        EXPECT_EQ(c.rc, rc);
        EXPECT_EQ(c.dest, ltesim::to_hex(dest));
        expect_printed(c.message);
    }
    std::array<uint8_t, 8> dest{};
    EXPECT_EQ(-1, add_param_file("/var/lte/param/none.param", "n", 1, dest));
    EXPECT_EQ(-1, add_hexparam_file("/var/lte/param/none.param", "n", 1, dest));
    EXPECT_EQ(-1, add_param_st_file("/var/lte/param/none.param", "n", dest, 8));
    EXPECT_EQ(-1, add_separate_param_file("/var/lte/param/none.param", "n", 1, ',', 2, dest));
    EXPECT_EQ(-1, check_exist_param("/var/lte/param/none.param", "n"));
    expect_printed("[add_param_file           ] /var/lte/param/none.param open fail\n");
}

// The value checks no shell line reaches: the device index's upper edge
// (the dispatcher refuses indexes from 128 on before a command sees them)
// and the number and digit checks of the library's users.
TEST(ParamValues, DeviceIndexesNumbersAndDigits)
{
    const std::pair<const char*, int> values[] = {{"1", 0},    {"128", 0},  {"129", -1}, {"0", -1},
                                                  {"1a", -1},  {"", -1},    {"4294967297", -1}};
    for (const auto& [text, rc] : values)
        EXPECT_EQ(rc, valid_check_dev_id(text)) << text;
    EXPECT_EQ(0, type_valid_check("255", 0, 1));
    EXPECT_EQ(-1, type_valid_check("256", 0, 1));
    EXPECT_EQ(0, type_valid_check("256", 1, 1)) << "signed values are not range-checked";
    EXPECT_EQ(0, type_valid_check("99999", 0, 4));
    EXPECT_EQ(-1, string_check("12 ", 3));
}

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

struct check_case {
    size_t kind;
    std::vector<patch> rec;
    int rc;
    const char* message;
};

const std::vector<check_case> CHECK_CASES = {
    {1, {}, 0, ""},
    {1, {{0, "00"}, {338, "08"}}, 0, ""},
    {1, {{0, "02"}}, -1,
     "[attach_req_param_check   ] Unknown optional infon flag type : 2 (optiona info flag : 0~1)\n"},
    {1, {{0, "01"}, {338, "07"}, {339, "02"}, {341, "01"}}, 0, ""},
    {1, {{0, "01"}, {338, "08"}}, -1, "Unknown APN Type : 8 (APN_TYPE : 0~4)\n"},
    {1, {{0, "01"}, {102, "03"}}, -1, "Unknown PDN type : 3 (Authentication Protocol : 0~2)\n"},
    {4, {{0, "03"}}, -1, "Unknown PDN Connect Request Type : 3 (PDN Connect Request Type : 0 ~ 2)\n"},
    {4, {{1, "01"}, {410, "08"}}, -1, "Unknown APN Type : 8"},
    {6, {{0, "0020"}}, -1, "Unknown default EPS id : 32"},
    // Extensions: the operator-specific PCOs as far as the PCO count reaches.
    {2, {{0, "02"}}, -1,
     "[attach_req_ext_param_check] Unknown optional infon flag type : 2 (optiona info flag : 0~1)\n"},
    {2, {{0, "01"}, {235, "01"}, {236, "feff"}}, -1,
     "[attach_req_ext_param_check] Primary fisrt_os_pco Invalid Value : 0xfeff\n"},
    {2, {{235, "03"}, {236, "ff00" "ffff" "ff00"}, {2, "04"}, {243, "04"}, {483, "02"}}, 0, ""},
    {2, {{235, "02"}, {236, "ff00" "0001"}}, -1, "Primary second_os_pco Invalid Value : 0x0001\n"},
    {2, {{476, "01"}, {477, "0001"}}, -1, "Retry fisrt_os_pco Invalid Value : 0x0001\n"},
    {2, {{483, "03"}}, -1, "Unknown APN Type : 3 (APN_TYPE : 0~4)\n"},
    {5, {{0, "02"}}, -1, "Unknown PDN Connect Request Type : 2 (PDN Connect Request Type : 0 ~ 2)\n"},
    {5, {{0, "01"}, {3, "04"}, {233, "01"}, {243, "03"}}, 0, ""},
    {5, {{243, "04"}}, -1, "Unknown APN Type : 4 (APN_TYPE : 0~4)\n"},
    {5, {{236, "01"}, {237, "0000"}}, -1,
     "[pdn_connectivity_req_ext_param_check] fisrt_os_pco Invalid Value : 0x0000\n"},
    // Bearers: the QCI with its list, each filter of the count.
    {9, {{2, "00000000"}}, -1,
     "(qci : 1 ~ 9)\n[bearer_resource_alloc_req_param_check] \t1. Conversational Voice\n"},
    {9, {{2, "0000000a"}}, -1, "\t8.9. Video(Buffered Streaming)\n"},
    {9, {{2, "00000001"}}, 0, ""},
    {9, {{2, "00000009"}, {22, "00000001"}, {27, "00000003"}, {32, "00000010"}}, 0, ""},
    {9, {{2, "00000009"}, {22, "00000002"}, {27, "00000003"}, {32, "00000010"}, {179, "00000004"}}, -1,
     "Unknown TFT Direction : 4 (TFT Direction  : 1 ~ 3)\n"},
    {9, {{2, "00000009"}, {22, "00000001"}, {27, "00000001"}, {32, "00000011"}}, -1,
     "Unknown TFT Packet Filter ID : 17"},
    {10, {{8, "00000005"}, {2, "00000004"}}, -1, "Unknown Bearer Modify Type : 4"},
    {10, {{8, "00000001"}, {2, "00000003"}}, 0, ""},
    // DM log extension.
    {22, {{1, "04"}, {4, "01"}}, -1, "Invalid parameter: category\n"},
    {22, {{1, "61"}}, -1, "Invalid parameter: no item id\n"},
    // Protocol information.
    {23, {{0, "0006"}, {2, "01"}}, -1, "Not support operator specific in current operator\n"},
    {23, {{0, "0006"}, {2, "02"}}, 0, ""},
    {24, {{0, "0009"}}, -1, "Unknown protocol info type : 9"},
    {24, {{0, "0005"}, {2, "02"}}, -1, "Not yet support operator id : 2 (only support 1)\n"},
    {24, {{0, "0005"}, {2, "01"}}, 0, ""},
    {25, {{0, "0007"}, {2, "05"}}, -1, "[set_protocol_info_file_param_check] Unknown drx val 5 (drx val 0 ~ 4)\n"},
    {25, {{0, "0007"}, {2, "0407"}}, 0, ""},
    {25, {{0, "0008"}, {2, "64"}}, -1, "Unknown sw version 100 (version 0 ~ 99)\n"},
    {25, {{0, "0008"}, {2, "63"}}, 0, ""},
    {25, {{0, "0006"}, {2, "0909"}, {16, "0a"}}, -1, "Invalid IMEI digit 14st 10 (IMEI digit 0 ~ 9)\n"},
    {25, {{0, "0002"}, {2, "02"}, {3, "01"}, {213, "02"}}, -1, "Unknown apn enable 2"},
    {25, {{0, "0002"}, {2, "01"}, {213, "02"}}, 0, ""},
    {25, {{0, "0000"}, {4, "02"}}, -1, "Unknown operational mode flag 2"},
    // UICC control by type.
    {31, {{0, "000f"}}, -1, "[uicc_control_req_param_check] Invalid UICC control request type : 15\n"},
    {31, {{0, "000e"}}, 0, ""},
    {31, {{0, "0001"}}, -1, "Unknown UICC APP type : 0"},
    {31, {{0, "0004"}, {4, "03"}}, 0, ""},
    {31, {{0, "0005"}, {4, "11"}}, -1, "Invalid Random challenge length : 17 (MAX Random challenge length 16)\n"},
    {31, {{0, "0005"}, {4, "10"}, {21, "11"}}, -1,
     "Invalid authenticate Token length : 17 (MAX authenticate Token length 16)\n"},
    {31, {{0, "0005"}, {4, "10"}, {21, "10"}}, 0, ""},
    {31, {{0, "0006"}, {4, "03"}}, -1, "Unknown UICC PIN Type : 3 (UICC PIN Type : 0 ~ 2)\n"},
    {31, {{0, "0006"}, {4, "0205"}}, -1, "Unknown UICC PIN Command : 5 (UICC PIN Command : 0 ~ 4)\n"},
    {31, {{0, "0006"}, {4, "0204"}}, 0, ""},
    // RRC capability control by type.
    {32, {{0, "0000"}}, -1,
     "[rrc_capability_control_req_param_check] Invalid RRC Capability control request type : 0\n"},
    {32, {{0, "0019"}}, -1, "Invalid RRC Capability control request type : 25\n"},
    {32, {{0, "0018"}}, 0, ""},
    {32, {{0, "0003"}, {4, "08"}}, -1, "Invalid AS Release Number value : 8"},
    {32, {{0, "0003"}, {4, "07"}}, 0, ""},
    {32, {{0, "0004"}}, -1, "Invalid CA band number : 0"},
    {32, {{0, "0007"}, {8, "03"}}, -1, "Invalid Transmission Mode value : 3"},
    {32, {{0, "000b"}, {4, "02"}}, -1, "Invalid  CA Mode value : 2 (0 : Disable CA, 1 : Enable CA)\n"},
    {32, {{0, "000b"}, {4, "010402040203"}}, 0, ""},
    {32, {{0, "000b"}, {4, "010402040204"}}, -1, "Invalid Intra Band CA Mode value : 4"},
    {11, {{4, "00000004"}}, 0, ""},
    {11, {{4, "00000005"}}, -1, "Unknown packet filter ids: 5\n"},
    {14, {{128, "0003"}}, -1, "Unknown Binary Donwload Type : 3\n"},
    {14, {{128, "0000"}}, 0, ""},
    {14, {{128, "0005"}}, 0, ""},
    {19, {{0, "00000001"}}, 0, ""},
    {20, {}, -1, "Unknown log info level: 0 (Set CM 0 ~ 4)\n"},
    {20, {{10, "0003"}, {288, "0004"}, {290, "0001"}}, 0, ""},
    {20, {{10, "0003"}, {288, "0005"}, {290, "0001"}}, -1, "Unknown log info mode: 5 (Set CM 0 ~ 5)\n"},
    {27, {{20, "02"}}, -1, "Unknown Indication Mask : 2 (Indication Mask : 0 ~ 1)\n"},
    {33, {{0, "0002"}, {6, "ff6a"}}, 0, ""},
    {33, {{6, "ff69"}}, -1, "Too small initail value: -151 (initail value should be lager than -150(dBm))\n"},
    {37, {{0, "0001"}}, 0, ""},
    {37, {{0, "0002"}}, -1, "Invalid PLMN Configuration Set request type : 2\n"},
};

TEST_F(ParamTest, ChecksRejectWhatLiesOutsideTheirRanges)
{
    for (const check_case& c : CHECK_CASES) {
        SCOPED_TRACE(std::string(parameter_check.at(c.kind).name) + " " + (c.rec.empty() ? "" : c.rec[0].hex));
        EXPECT_EQ(c.rc, param_check(c.kind, record(4096, c.rec)));
        expect_printed(c.message);
    }
    EXPECT_EQ(-1, param_check(PARAMETER_CHECK_COUNT, record(16, {})));
}

}  // namespace
}  // namespace cnxd::test
