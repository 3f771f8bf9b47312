// The readers of parameter files, each edge case of the file format one
// row: the file, the reader and its arguments, the result, the destination
// afterwards (8 bytes, 0xee where nothing was stored) and what is printed.
#include <string>
#include <vector>

#include "param_fixture.h"

namespace cnxd::test {
namespace {

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
    {"a NUL byte inside a line hides no later tag", std::string("# c\0omment\nn=3\n", 15), rd::dec, "n", 1, 0, 0,
     "03eeeeeeeeeeeeee"},
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
    {"width 2 takes 65535 big-endian", "n=65535\n", rd::dec, "n", 2, 0, 0, "ffffeeeeeeeeeeee"},
    {"width 2 refuses 65536", "n=65536\n", rd::dec, "n", 2, 0, -1, "eeeeeeeeeeeeeeee"},
    {"width 4 is not range-limited", "n=2147483647\n", rd::dec, "n", 4, 0, 0, "7fffffffeeeeeeee"},
    {"ten digits saturate as atoi does", "n=4294967297\n", rd::dec, "n", 4, 0, 0, "7fffffffeeeeeeee"},
    {"ten digits never wrap into width 1", "n=4294967297\n", rd::dec, "n", 1, 0, -1, "eeeeeeeeeeeeeeee"},
    {"ten digits never wrap into width 2", "n=4294967296\n", rd::dec, "n", 2, 0, -1, "eeeeeeeeeeeeeeee"},
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
        write(FILE_PATH, c.file);
        std::array<uint8_t, 8> dest;
        dest.fill(0xee);
        int rc = 0;
        switch (c.reader) {
        case rd::dec:
            rc = add_param_file(FILE_PATH, c.tag, c.width, dest);
            break;
        case rd::sdec:
            rc = add_signed_param_file(FILE_PATH, c.tag, c.width, dest);
            break;
        case rd::hex:
            rc = add_hexparam_file(FILE_PATH, c.tag, c.width, dest);
            break;
        case rd::str:
            rc = add_param_st_file(FILE_PATH, c.tag, dest, c.width);
            break;
        case rd::list:
            rc = add_separate_param_file(FILE_PATH, c.tag, c.width, c.tag == std::string("ip") ? '.' : ',', c.max, dest);
            break;
        case rd::hexlist:
            rc = add_separate_hexparam_file(FILE_PATH, c.tag, c.width, ',', c.max, dest);
            break;
        case rd::bits:
            rc = add_bit_param_file(FILE_PATH, c.tag, c.width, ',', c.max, std::span(dest).first(2));
            break;
        case rd::exist:
            rc = check_exist_param(FILE_PATH, c.tag);
            break;
        }
        EXPECT_EQ(c.rc, rc);
        EXPECT_EQ(c.dest, hex(dest));
        const std::string text = take_printed();
        if (*c.message) {
            EXPECT_NE(std::string::npos, text.find(c.message)) << text;
        } else {
            EXPECT_EQ("", text);
        }
    }
}

TEST_F(ParamTest, EveryReaderFailsOnAMissingFile)
{
    std::array<uint8_t, 8> dest{};
    EXPECT_EQ(-1, add_param_file("/var/lte/param/none.param", "n", 1, dest));
    EXPECT_EQ(-1, add_hexparam_file("/var/lte/param/none.param", "n", 1, dest));
    EXPECT_EQ(-1, add_param_st_file("/var/lte/param/none.param", "n", dest, 8));
    EXPECT_EQ(-1, add_separate_param_file("/var/lte/param/none.param", "n", 1, ',', 2, dest));
    EXPECT_EQ(-1, check_exist_param("/var/lte/param/none.param", "n"));
    EXPECT_NE(std::string::npos,
              take_printed().find("[add_param_file           ] /var/lte/param/none.param open fail\n"));
}

TEST_F(ParamTest, PathsFollowLteParamDir)
{
    const struct {
        const char* dir;  // nullptr: unset
        const char* attach;
    } cases[] = {
        {nullptr, "/var/lte/param/attach.param"},
        {"", "/var/lte/param/attach.param"},
        {"/tmp/x", "/tmp/x/attach.param"},
        {"/tmp/x/", "/tmp/x/attach.param"},
    };
    for (const auto& c : cases) {
        if (c.dir)
            setenv("LTE_PARAM_DIR", c.dir, 1);
        else
            unsetenv("LTE_PARAM_DIR");
        set_log_file_paths();
        EXPECT_STREQ(c.attach, filepath_attach_param) << (c.dir ? c.dir : "unset");
    }
    EXPECT_STREQ("/tmp/x/rrc_conn_state_neighbor_meas_ctl_set.param", filepath_rrc_conn_state_neighbor_cell_meas_ctl_set);
    EXPECT_STREQ("/tmp/x/rrc_ca_combination_list_working.bin", filepath_rrc_ca_band_combination_list_working);
    unsetenv("LTE_PARAM_DIR");
    set_log_file_paths();
}

TEST_F(ParamTest, MultiSetParserReadsOneSetPerCall)
{
    const std::vector<multi_set_slot> tags = [] {
        std::vector<multi_set_slot> t(3);
        std::snprintf(t[0].data(), MULTI_SET_SLOT, "BAND");
        std::snprintf(t[1].data(), MULTI_SET_SLOT, "START_EARFCN");
        std::snprintf(t[2].data(), MULTI_SET_SLOT, "END_EARFCN");
        return t;
    }();
    const struct {
        const char* what;
        const char* file;
        std::vector<int> results;     // of the successive calls
        std::string last_values;      // the slots after the last call, '|'-joined
        const char* message = "";
    } cases[] = {
        {"two sets, comments skipped", "#BAND=9\nBAND=3\nSTART_EARFCN=1200\nEND_EARFCN=1949\nBAND=7\r\n"
                                       "START_EARFCN=2750\nEND_EARFCN=3449\n",
         {0, 0, -1}, "||"},
        {"set closed before a tag came", "BAND=3\nEND_EARFCN=1949\n", {MULTI_SET_ERROR}, "3||1949"},
        {"line without '='", "BAND=3\nSTART_EARFCN\n", {MULTI_SET_ERROR}, "3||",
         "[multiSetTagParser        ] syntax Error, Keep \"[TAG_NAME]=\""},
        {"a tag twice", "BAND=3\nBAND=4\nSTART_EARFCN=1\nEND_EARFCN=2\n", {MULTI_SET_ERROR}, "4|1|2"},
        {"value cut to 19 characters", "BAND=123456789012345678901234\nSTART_EARFCN=1\nEND_EARFCN=2\n", {0},
         "1234567890123456789|1|2"},
        {"empty file", "", {-1}, "||"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write(FILE_PATH, c.file);
        FILE* f = std::fopen((root_ + FILE_PATH).c_str(), "r");
        ASSERT_NE(nullptr, f);
        std::vector<multi_set_slot> values(3);
        for (int expected : c.results)
            EXPECT_EQ(expected, multiSetTagParser(f, tags, values, 3));
        std::fclose(f);
        EXPECT_EQ(c.last_values, std::string(values[0].data()) + "|" + values[1].data() + "|" + values[2].data());
        const std::string text = take_printed();
        if (*c.message) {
            EXPECT_NE(std::string::npos, text.find(c.message)) << text;
        }
    }
}

TEST(ParamValues, ChecksAndFormats)
{
    const struct {
        const char* text;
        int dev_id;
        int bearer_mode;
    } values[] = {
        {"1", 0, 0},         {"128", 0, -1},  {"129", -1, -1},       {"0", -1, 0},    {"2", 0, 0},
        {"256", -1, 0},      {"3", 0, -1},    {"4294967297", -1, -1}, {"4294967296", -1, -1},    {"12345678901", -1, -1}, {"1a", -1, -1}, {"", -1, 0},
    };
    for (const auto& v : values) {
        EXPECT_EQ(v.dev_id, valid_check_dev_id(v.text)) << v.text;
        EXPECT_EQ(v.bearer_mode, valid_check_bearer_mode(v.text)) << v.text;
    }
    EXPECT_EQ(0, type_valid_check("255", 0, 1));
    EXPECT_EQ(-1, type_valid_check("256", 0, 1));
    EXPECT_EQ(0, type_valid_check("256", 1, 1));
    EXPECT_EQ(0, type_valid_check("99999", 0, 4));
    EXPECT_EQ(0, signed_type_valid_check("-99999", 1));
    EXPECT_EQ(-1, string_check("12 ", 3));

    const struct {
        const char* text;
        int rc;
        const char* mac;
    } macs[] = {
        {"00-1a-2B-3c-4D-5e", 0, "001a2b3c4d5e"},
        {"00:1a:2b:3c:4d:5e", -1, ""},
        {"00-1a-2b-3c-4d-5g", -1, ""},
        {"00-1a-2b-3c-4d", -1, ""},
        {"00-1a-2b-3c-4d-5e-6f", -1, ""},
    };
    for (const auto& m : macs) {
        std::array<uint8_t, 6> out{};
        EXPECT_EQ(m.rc, get_mac_address(m.text, out)) << m.text;
        if (m.rc == 0) {
            EXPECT_EQ(m.mac, hex(out));
        }
    }

    // 49015420323751 has the check digit 8.
    std::array<uint8_t, 15> digits{};
    ASSERT_EQ(0, get_imei("49015420323751", 14, digits));
    EXPECT_TRUE(is_valid_imei(digits, 14));
    EXPECT_EQ(8, digits[14]);
    EXPECT_TRUE(is_valid_imei(digits, 15));
    digits[14] = 7;
    EXPECT_FALSE(is_valid_imei(digits, 15));
    EXPECT_EQ(-1, get_imei("4901542032375x", 14, digits));

    const char* argv[] = {"nid", "1", "0", "5"};
    param_args args;
    make_argument(args, 4, argv);
    ASSERT_EQ(2, args.count);
    EXPECT_STREQ("0", args.arg[0]);
    EXPECT_STREQ("5", args.arg[1]);
    make_argument(args, 2, argv);
    EXPECT_EQ(0, args.count);
}

}  // namespace
}  // namespace cnxd::test
