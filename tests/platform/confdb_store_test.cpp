// The configuration store stand-in: the store tool as the daemon and the
// tests run it, and the library's reads of a damaged store.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "confdb.h"
#include "config/confdb_sysroot.h"

namespace {

using cnxd::test::StoreSysroot;

TEST(ConfdbTool, SetKeepsTheFileReadableRefusesBadInputAndRacesLoseNothing)
{
    StoreSysroot root;
    if (root.tool_is_foreign())
        GTEST_SKIP() << cnxd::test::kForeignTool;
    ASSERT_EQ(0, root.confdb("set config wan lte ims NEW 'two words'"));
    ASSERT_EQ(0, root.confdb("set brand new node key v"));
    const std::string store = root.read("/etc/confdb.ini");
    EXPECT_NE(std::string::npos, store.find("[config wan lte ims]\nENABLE=0\nNEW=two words\n\n")) << store;
    EXPECT_TRUE(store.ends_with("\n[brand new node]\nkey=v\n")) << store;
    ASSERT_EQ(0, root.confdb("get config wan lte ims > /var/tmp/out"));
    EXPECT_EQ("ENABLE=0\nNEW=two words\n", root.read("/var/tmp/out"));
    for (const auto& [args, rc] : {std::pair{"set 'config wan' lte k v", 1}, {"set config k=1 v", 1},
                                   {"set config k \"$(printf 'a\\nb')\"", 1}, {"set config k", 2},
                                   {"get config wan lte ims NOPE", 1}, {"bogus", 2}})
        EXPECT_EQ(rc, root.confdb(std::string(args) + " >/dev/null 2>&1")) << args;
    EXPECT_EQ(store, root.read("/etc/confdb.ini"));

    ASSERT_EQ(0, cnxd::cnxd_system("for w in a b; do (for i in 1 2 3 4 5 6 7 8 9 10 11 12; do"
                                   "  confdb set race $w k$i $w$i || exit 1; done) & done; wait"));
    const confdb::Store after(*confdb::read_text_file(confdb::Store::file_path()));
    for (const char* w : {"a", "b"})
        for (int i = 1; i <= 12; ++i)
            EXPECT_EQ(w + std::to_string(i), after.get({"race", w}, "k" + std::to_string(i)).value_or("lost"));

    // No store, no set: the tool never creates one of its own.
    std::filesystem::remove(root.path("/etc/confdb.ini"));
    EXPECT_EQ(1, root.confdb("set config k v 2>/dev/null"));
    EXPECT_FALSE(std::filesystem::exists(root.path("/etc/confdb.ini")));
}

TEST(ConfdbLibrary, SlashPathsAndADamagedStore)
{
    StoreSysroot root;
    char out[256];
    EXPECT_EQ(0, read_confdb_xml(0, "/vemo/cm_config/apnprofile/apn2/apn_name", out));
    EXPECT_STREQ("ims", out);
    root.set("vemo cm_config apnprofile apn3 apn_name", std::string(300, 'n'));
    EXPECT_EQ(0, read_confdb_xml(0, "/vemo/cm_config/apnprofile/apn3/apn_name", out));
    EXPECT_EQ(255u, std::strlen(out));
    // A damaged store reads as far as it makes sense, never past its end.
    using namespace std::string_literals;
    root.write("/etc/confdb.ini", "[config wan lte modem\n\0sms_timer=7\n[]\n=\n["s +
                                      "config wan lte modem]\nsms_timer=  9\t\r\n[x");
    EXPECT_EQ(9, get_sms_timer_value());
    std::filesystem::remove(root.path("/etc/confdb.ini"));
    EXPECT_EQ(-1, init_confdb_ex());
    EXPECT_EQ(0, get_sms_timer_value());
    EXPECT_EQ(-1, read_confdb_xml(0, "/vemo/cm_config/apnprofile/apn2/apn_name", out));
}

}  // namespace
