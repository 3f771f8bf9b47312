// The daemon's reads of the store: the operator code, the IMS switch and
// the SMS type it chooses (the keys of the APN table are read by its own
// tests).
#include "config/confdb_access.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    for (auto [text, code] : {std::pair{"e", 14}, {"E", 14}, {"14", 20}, {"2", 2}, {"", 0}, {"7", 7}}) {
        root.set("ltenv info operator", text);
        EXPECT_EQ(code, CNXD_GetOperator()) << text;
    }
    std::filesystem::remove(root.path("/etc/confdb.ini"));
    EXPECT_EQ(0, CNXD_GetOperator()) << "no store";
}

TEST_F(ConfdbAccess, ImsSwitchAndSmsTypeChoice)
{
    const uint8_t mcc302[] = {0x03, 0xF2}, mcc311[] = {0x13, 0x01};  // BCD: 3 0 | 2 F
    const uint8_t mcc_hex[] = {0xBA, 0x0C};  // nibbles above 9 become letters: "ABC"
    const struct {
        const char* operator_code;
        const char* ims;
        const uint8_t* mcc;
        int reset;  // the type before, or -1: as the row before left it
        int rc, type;
    } cases[] = {
        // Verizon code with IMS off: SMS type 0 and SMS over IP off, once.
        {"2", "0", mcc311, SMS_CONF_TYPE_UNSET, 2, 0},
        {"2", "0", mcc311, -1, 0, 0},
        // IMS on: a Canadian network keeps type 0, any other switches to 1.
        {"2", "1", mcc302, -1, 0, 0},
        {"2", "1", mcc_hex, -1, 1, 1},
        {"2", "1", mcc302, -1, 1, 0},
        // Code 3 takes type 1 whatever the network; other codes never choose.
        {"3", "1", mcc302, SMS_CONF_TYPE_UNSET, 1, 1},
        {"3", "1", mcc311, -1, 0, 1},
        {"e", "1", mcc311, SMS_CONF_TYPE_UNSET, 0, SMS_CONF_TYPE_UNSET},
    };
    for (const auto& c : cases) {
        root.set("ltenv info operator", c.operator_code);
        root.set("config wan lte ims ENABLE", c.ims);
        if (c.reset >= 0)
            gSmsConfType = c.reset;
        EXPECT_EQ(c.ims[0] - '0', CNXD_GetImsEnable());
        EXPECT_EQ(c.rc, CNXD_SelectSmsConfType(std::span<const uint8_t>(c.mcc, 2))) << c.operator_code;
        EXPECT_EQ(c.type, gSmsConfType) << c.operator_code;
    }
    EXPECT_EQ(0, CNXD_SelectSmsConfType(std::span<const uint8_t>(mcc311, 1))) << "short PLMN";
}

}  // namespace
}  // namespace cnxd
