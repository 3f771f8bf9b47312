#include "config/confdb_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "config/confdb_sysroot.h"

namespace cnxd {
namespace {

class ConfdbAccess : public test::StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        gSmsConfType = SMS_CONF_TYPE_UNSET;
    }
};

TEST_F(ConfdbAccess, OperatorCodeIsHexadecimalTextDefaultingToZero)
{
    EXPECT_EQ(0, CNXD_GetOperator()) << "seeded store";
    for (auto [text, code] : {std::pair{"e", 14}, {"E", 14}, {"14", 20}, {"2", 2}}) {
        root.set("ltenv info operator", text);
        EXPECT_EQ(code, CNXD_GetOperator()) << text;
    }
    root.set("ltenv info operator", "");
    EXPECT_EQ(0, CNXD_GetOperator()) << "empty value";
}

TEST_F(ConfdbAccess, SingleKeyReadTellsMissingFromEmpty)
{
    confdb_value v;
    v.fill('x');
    EXPECT_EQ(8, CNXD_GetConfdbValue("config wan lte apntable apn1", "apn_name", v));
    EXPECT_STREQ("internet", v.data());
    EXPECT_EQ(0, v[9]) << "the buffer is zeroed before the read";

    for (auto [node, key] : {std::pair{"config wan lte apntable apn1", "no_such_key"}, {"no such node", "ENABLE"}}) {
        EXPECT_EQ(1, CNXD_GetConfdbValue(node, key, v)) << node << " " << key;
        EXPECT_STREQ("0", v.data());
    }
    EXPECT_EQ(0, CNXD_GetConfdbValue("config wan lte apntable apn1", "username", v));
    EXPECT_STREQ("", v.data());

    root.set("config wan lte apntable apn1 password", std::string(400, 'p'));
    EXPECT_EQ(CONFDB_VALUE_LIMIT, CNXD_GetConfdbValue("config wan lte apntable apn1", "password", v));
    EXPECT_EQ('\0', v.back());
}

TEST_F(ConfdbAccess, ImsSwitchAndSmsTypeChoice)
{
    const uint8_t mcc302[] = {0x03, 0xF2}, mcc311[] = {0x13, 0x01};  // BCD: 3 0 | 2 F
    const uint8_t mcc_hex[] = {0xBA, 0x0C};  // nibbles above 9 become letters: "ABC"

    // Verizon code with IMS off: SMS type 0 and SMS over IP off, once.
    root.set("ltenv info operator", "2");
    EXPECT_EQ(0, CNXD_GetImsEnable());
    EXPECT_EQ(2, CNXD_SelectSmsConfType(mcc311));
    EXPECT_EQ(0, gSmsConfType);
    EXPECT_EQ(0, CNXD_SelectSmsConfType(mcc311));

    // IMS on: Canadian network keeps type 0, any other switches to 1.
    root.set("config wan lte ims ENABLE", "1");
    EXPECT_EQ(1, CNXD_GetImsEnable());
    EXPECT_EQ(0, CNXD_SelectSmsConfType(mcc302));
    EXPECT_EQ(1, CNXD_SelectSmsConfType(mcc_hex));
    EXPECT_EQ(1, gSmsConfType);
    EXPECT_EQ(1, CNXD_SelectSmsConfType(mcc302));
    EXPECT_EQ(0, gSmsConfType);

    // Code 3 takes type 1 whatever the network; other codes never choose.
    gSmsConfType = SMS_CONF_TYPE_UNSET;
    root.set("ltenv info operator", "3");
    EXPECT_EQ(1, CNXD_SelectSmsConfType(mcc302));
    EXPECT_EQ(1, gSmsConfType);
    EXPECT_EQ(0, CNXD_SelectSmsConfType(mcc311));
    root.set("ltenv info operator", "e");
    gSmsConfType = SMS_CONF_TYPE_UNSET;
    EXPECT_EQ(0, CNXD_SelectSmsConfType(mcc311));
    EXPECT_EQ(SMS_CONF_TYPE_UNSET, gSmsConfType);
    EXPECT_EQ(0, CNXD_SelectSmsConfType(std::span<const uint8_t>(mcc311, 1))) << "short PLMN";
}

TEST_F(ConfdbAccess, MissingOrUnreadableStoreGivesDefaults)
{
    confdb_value v;
    std::filesystem::remove(root.path("/etc/confdb.ini"));
    EXPECT_EQ(0, CNXD_GetOperator());
    EXPECT_EQ(0, CNXD_GetImsEnable());
    EXPECT_EQ(1, CNXD_GetConfdbValue("config wan lte dhcp", "force_dhcp", v));
    EXPECT_STREQ("0", v.data());

    // A directory where the store file should be cannot be read as one.
    std::filesystem::create_directory(root.path("/etc/confdb.ini"));
    EXPECT_EQ(0, CNXD_GetOperator());
    EXPECT_EQ(1, CNXD_GetConfdbValue("ltenv info", "operator", v));

    // Without a place for dumps the reads still answer with defaults.
    std::filesystem::remove_all(root.path("/var/tmp"));
    EXPECT_EQ(0, CNXD_GetImsEnable());
    std::filesystem::create_directory(root.path("/var/tmp"));
}

TEST_F(ConfdbAccess, DumpNamesAreNeverShared)
{
    // A name taken by someone else is skipped, not reused.
    const std::string first = confdb_new_dump_file("confdb_t");
    ASSERT_FALSE(first.empty());
    const unsigned n = std::stoul(first.substr(first.rfind('_') + 1));
    root.write("/var/tmp/confdb_t_" + std::to_string(n + 1), "");
    const std::string next = confdb_new_dump_file("confdb_t");
    EXPECT_EQ("/var/tmp/confdb_t_" + std::to_string(n + 2), next);
    for (unsigned i = n; i <= n + 2; ++i)
        std::filesystem::remove(root.path("/var/tmp/confdb_t_" + std::to_string(i)));

    // Threads reading at once each get their own dump and their own value.
    root.set("config wan lte apntable apn3 apn_name", "third");
    std::atomic<int> wrong{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const char* node = t % 2 ? "config wan lte apntable apn2" : "config wan lte apntable apn3";
            const char* want = t % 2 ? "ims" : "third";
            for (int i = 0; i < 8; ++i) {
                confdb_value v;
                CNXD_GetConfdbValue(node, "apn_name", v);
                wrong += std::strcmp(v.data(), want) != 0;
                wrong += CNXD_GetOperator() != 0;
            }
        });
    threads.clear();
    EXPECT_EQ(0, wrong);
}

}  // namespace
}  // namespace cnxd
