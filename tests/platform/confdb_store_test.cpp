#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "confdb.h"
#include "config/confdb_sysroot.h"
#include "ini.h"

namespace {

using cnxd::test::StoreSysroot;

// The INI reader the daemon reads every dump with.
TEST(ConfdbReader, ReadsSectionsKeysAndDefaults)
{
    StoreSysroot root;
    root.write("/var/tmp/dump",
               "  top = 1 \r\n"
               "# comment=x\n"
               "; other=y\n"
               "noequals\n"
               "=nokey\n"
               "[apn1]\n"
               "apn_name=first\n"
               "empty=\n"
               "apn_name=second\n"
               "[ apn2 ]\n"
               "apn_name=a=b\n");
    char out[16];
    EXPECT_EQ(1, GetPrivateProfileString("", "top", "d", out, 15, "/var/tmp/dump"));
    EXPECT_STREQ("1", out);
    EXPECT_EQ(5, GetPrivateProfileString("apn1", "apn_name", "d", out, 15, "/var/tmp/dump"));
    EXPECT_STREQ("first", out) << "first occurrence wins";
    EXPECT_EQ(3, GetPrivateProfileString("apn2", "apn_name", "d", out, 15, root.path("/var/tmp/dump").c_str()))
        << "an already mapped path works too";
    EXPECT_STREQ("a=b", out);
    EXPECT_EQ(0, GetPrivateProfileString("apn1", "empty", "d", out, 15, "/var/tmp/dump"));
    for (const char* absent : {"other", "comment", "noequals", ""})
        EXPECT_EQ(1, GetPrivateProfileString(nullptr, absent, "d", out, 15, "/var/tmp/dump")) << absent;
    EXPECT_EQ(1, GetPrivateProfileString("apn1", "top", "d", out, 15, "/var/tmp/dump"));
    EXPECT_STREQ("d", out);

    // Cut to the limit; a missing file gives the default and a failure.
    EXPECT_EQ(3, GetPrivateProfileString("apn1", "apn_name", nullptr, out, 3, "/var/tmp/dump"));
    EXPECT_STREQ("fir", out);
    EXPECT_EQ(-1, GetPrivateProfileString("", "top", "0", out, 15, "/var/tmp/missing"));
    EXPECT_STREQ("0", out);
    EXPECT_EQ(-1, GetPrivateProfileString("", "top", nullptr, out, 15, nullptr));
    EXPECT_STREQ("", out);
}

class ConfdbTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (root.tool_is_foreign())
            GTEST_SKIP() << cnxd::test::kForeignTool;
    }

    StoreSysroot root;
};

TEST_F(ConfdbTool, GetPrintsNodesAndKeys)
{
    ASSERT_EQ(0, root.confdb("set config wan lte apntable apn1 extra x"));
    ASSERT_EQ(0, root.confdb("get config wan lte > /var/tmp/out"));
    const std::string lte = root.read("/var/tmp/out");
    EXPECT_TRUE(lte.starts_with("fota_session=0\nfota_state=0\n[apntable]\n[ims]\nENABLE=0\n[dhcp]\n")) << lte;
    EXPECT_EQ(std::string::npos, lte.find("apn_name")) << "only one level deep";
    EXPECT_NE(std::string::npos, lte.find("[bip]\n[modem]\n")) << lte;

    ASSERT_EQ(0, root.confdb("get config wan lte apntable > /var/tmp/out"));
    const std::string table = root.read("/var/tmp/out");
    EXPECT_TRUE(table.starts_with("[apn1]\napn_name=internet\n")) << table;
    EXPECT_NE(std::string::npos, table.find("secure_pco=0\nextra=x\n[apn2]\napn_name=ims\n")) << table;

    ASSERT_EQ(0, root.confdb("get config wan lte ims ENABLE > /var/tmp/out"));
    EXPECT_EQ("ENABLE=0\n", root.read("/var/tmp/out"));
    EXPECT_EQ(1, root.confdb("get config wan lte ims NOPE > /var/tmp/out"));
    EXPECT_EQ("", root.read("/var/tmp/out"));
    EXPECT_EQ(2, root.confdb("get 2>/dev/null"));
    EXPECT_EQ(2, root.confdb("bogus 2>/dev/null"));
}

TEST_F(ConfdbTool, SetKeepsTheFileReadableAndRefusesBadInput)
{
    ASSERT_EQ(0, root.confdb("set config wan lte ims ENABLE 1"));
    ASSERT_EQ(0, root.confdb("set config wan lte ims NEW 'two words'"));
    ASSERT_EQ(0, root.confdb("set config system_time TIMEZONE -5"));
    ASSERT_EQ(0, root.confdb("set brand new node key v"));
    const std::string store = root.read("/etc/confdb.ini");
    EXPECT_NE(std::string::npos, store.find("[config wan lte ims]\nENABLE=1\nNEW=two words\n\n")) << store;
    EXPECT_NE(std::string::npos, store.find("# cnxd configuration store")) << "comments stay";
    EXPECT_TRUE(store.ends_with("\n[brand new node]\nkey=v\n")) << store;
    EXPECT_NE(std::string::npos, store.find("TIMEZONE=-5\n"));

    EXPECT_EQ(1, root.confdb("set 'config wan' lte k v 2>/dev/null"));
    EXPECT_EQ(1, root.confdb("set config k=1 v 2>/dev/null"));
    EXPECT_EQ(1, root.confdb("set config k \"$(printf 'a\\nb')\" 2>/dev/null"));
    EXPECT_EQ(2, root.confdb("set config k 2>/dev/null"));
    EXPECT_EQ(store, root.read("/etc/confdb.ini"));

    // No store, no set: the tool never creates one of its own.
    std::filesystem::remove(root.path("/etc/confdb.ini"));
    EXPECT_EQ(1, root.confdb("set config k v 2>/dev/null"));
    EXPECT_FALSE(std::filesystem::exists(root.path("/etc/confdb.ini")));
    EXPECT_EQ(1, root.confdb("get config > /dev/null"));
}

TEST_F(ConfdbTool, ConcurrentSetsKeepEveryValue)
{
    ASSERT_EQ(0, cnxd::cnxd_system("for w in a b; do"
                                   " (for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do"
                                   "  confdb set race $w k$i $w$i || exit 1; done) & done; wait"));
    const auto text = confdb::read_text_file(confdb::Store::file_path());
    ASSERT_TRUE(text);
    const confdb::Store store(*text);
    for (const char* w : {"a", "b"})
        for (int i = 1; i <= 20; ++i)
            EXPECT_EQ(std::string(w) + std::to_string(i),
                      store.get({"race", w}, "k" + std::to_string(i)).value_or("lost"));
    EXPECT_FALSE(std::filesystem::exists(root.path("/etc/confdb.ini.tmp")));
}

TEST(ConfdbLibrary, SlashPathsAndSettingGetters)
{
    StoreSysroot root;
    EXPECT_EQ(0, init_confdb_ex());
    char out[256];
    EXPECT_EQ(0, read_confdb_xml(0, "/vemo/cm_config/apnprofile/apn2/apn_name", out));
    EXPECT_STREQ("ims", out);
    EXPECT_EQ(-1, read_confdb_xml(0, "/vemo/cm_config/apnprofile/apn3/apn_name", out));
    EXPECT_STREQ("", out);
    root.set("vemo cm_config apnprofile apn3 apn_name", std::string(300, 'n'));
    EXPECT_EQ(0, read_confdb_xml(0, "/vemo/cm_config/apnprofile/apn3/apn_name", out));
    EXPECT_EQ(255u, std::strlen(out));

    EXPECT_EQ(0, get_sms_timer_value());
    root.set("config wan lte modem sms_timer", "30");
    root.set("config wan lte modem intra_band_ca_mode", "2");
    EXPECT_EQ(30, get_sms_timer_value());
    EXPECT_EQ(2, get_Intra_Band_CA_mode_config_value());

    // A damaged store reads as far as it makes sense, never past its end.
    using namespace std::string_literals;
    root.write("/etc/confdb.ini", "[config wan lte modem\n\0sms_timer=7\n[]\n=\n["s +
                                      "config wan lte modem]\nsms_timer=  9\t\r\n[x");
    EXPECT_EQ(9, get_sms_timer_value());
    EXPECT_EQ(0, get_sms_save_config_value());

    std::filesystem::remove(root.path("/etc/confdb.ini"));
    EXPECT_EQ(-1, init_confdb_ex());
    EXPECT_EQ(0, get_sms_timer_value());
    EXPECT_EQ(-1, read_confdb_xml(0, "/vemo/cm_config/apnprofile/apn2/apn_name", out));
}

}  // namespace
