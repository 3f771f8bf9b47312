#include "config/apn_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "config/confdb_sysroot.h"

namespace cnxd {
namespace {

constexpr const char* kApn1 = "config wan lte apntable apn1 ";
constexpr const char* kApn2 = "config wan lte apntable apn2 ";
constexpr const char* kApn3 = "config wan lte apntable apn3 ";

class ApnTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (root.tool_is_foreign())
            GTEST_SKIP() << test::kForeignTool;
    }
    void TearDown() override
    {
        for (int cid = 1; cid <= APN_SECTION_COUNT; ++cid)
            CNXD_SetCidInterfaceType(cid, 0xFF);
        EXPECT_EQ(std::vector<std::string>{}, root.dumps_left());
    }

    uint32_t type_of(const char* name)
    {
        std::array<char, 32> buf{};
        std::strcpy(buf.data(), name);
        return CNXD_GetApnTypeByName(buf);
    }

    test::StoreSysroot root;
};

TEST_F(ApnTable, TablesEndWithAnEmptyRow)
{
    for (const operator_apn_table& t : operator_apn_table_list) {
        size_t rows = 0;
        while (t.rows[rows].label)
            ++rows;
        EXPECT_EQ(APN_TYPE_NONE, t.rows[rows].type);
        EXPECT_LE(rows, 8u);
    }
}

TEST_F(ApnTable, OperatorTestNamesBecomeTheAdminApn)
{
    root.set("ltenv info operator", "2");
    root.set(std::string(kApn3) + "apn_name", "VZWADMIN");
    root.set(std::string(kApn3) + "pdn_label", "admin");
    std::array<char, 10> name{};
    std::strcpy(name.data(), "TestGp.rs");
    EXPECT_EQ(APN_TYPE_ADMIN, CNXD_GetApnTypeByName(name));
    EXPECT_STREQ("vzwadmin", name.data());
    EXPECT_EQ(0, name[8]);

    root.set("ltenv info operator", "7");
    root.set(std::string(kApn3) + "apn_name", "otasn");
    root.set(std::string(kApn3) + "pdn_label", "ota");
    std::strcpy(name.data(), "test12.RS");
    EXPECT_EQ(APN_TYPE_ADMIN, CNXD_GetApnTypeByName(name));
    EXPECT_STREQ("otasn", name.data());

    root.set("ltenv info operator", "0");
    std::strcpy(name.data(), "TestGp.rs");
    EXPECT_EQ(APN_TYPE_NONE, CNXD_GetApnTypeByName(name));
    EXPECT_STREQ("TestGp.rs", name.data()) << "other operators keep the name";
    EXPECT_EQ(APN_TYPE_NONE, CNXD_GetApnTypeByName(std::span<char>(name.data(), 9))) << "unterminated";
    EXPECT_EQ(APN_TYPE_NONE, type_of(""));
}

TEST_F(ApnTable, OperatorTablesMatchLabelsByPrefixInTableOrder)
{
    // Sprint: "ota" is type 2 although it stands first.
    root.set("ltenv info operator", "7");
    root.set(std::string(kApn1) + "pdn_label", "ota");
    root.set(std::string(kApn2) + "pdn_label", "INTER");
    EXPECT_EQ(APN_TYPE_ADMIN, type_of("internet"));
    EXPECT_EQ(APN_TYPE_INTERNET, type_of("ims.example"));  // "ims" starts the name asked for
    EXPECT_EQ(APN_TYPE_NONE, type_of("unknown"));
    EXPECT_EQ("internet", CNXD_GetApnNameByAPNType(APN_TYPE_ADMIN).value_or("-"));
    EXPECT_EQ("ims", CNXD_GetApnNameByAPNType(APN_TYPE_INTERNET).value_or("-"));
    EXPECT_FALSE(CNXD_GetApnNameByAPNType(APN_TYPE_IMS)) << "no Sprint row";

    // AT&T ("e"): type 6 is firstnet.
    root.set("ltenv info operator", "e");
    root.set(std::string(kApn1) + "pdn_label", "firstnet");
    EXPECT_EQ(APN_TYPE_B2B, type_of("internet"));
    EXPECT_FALSE(CNXD_GetApnNameByAPNType(APN_TYPE_IMS)) << "no section labelled ims";
}

TEST_F(ApnTable, LabelDerivedTable)
{
    // Operator 5 has no table: rows follow the sections, typed by CID.
    root.set("ltenv info operator", "5");
    EXPECT_EQ(APN_TYPE_INTERNET, type_of("internet"));
    EXPECT_EQ(APN_TYPE_IMS, type_of("ims"));
    EXPECT_EQ("ims", CNXD_GetApnNameByAPNType(1).value_or("-"));
    ASSERT_EQ(1, CNXD_SetCidInterfaceType(1, 5));
    EXPECT_EQ(5u, type_of("internet"));
    EXPECT_EQ("internet", CNXD_GetApnNameByAPNType(5).value_or("-"));

    // An empty first label ends the table before it starts.
    root.set(std::string(kApn1) + "pdn_label", "");
    EXPECT_EQ(APN_TYPE_NONE, type_of("internet"));
    EXPECT_EQ(APN_TYPE_NONE, type_of("ims"));
    EXPECT_FALSE(CNXD_GetApnNameByAPNType(1));

    const ConfdbDump dump("confdb_wan_lte_apntable", "config wan lte apntable");
    label_apn_table rows;
    apn_label_slots labels;
    root.set(std::string(kApn1) + "pdn_label", std::string(200, 'L'));
    const ConfdbDump long_label("confdb_wan_lte_apntable", "config wan lte apntable");
    CNXD_BuildLabelApnTable(rows, long_label.file().c_str(), labels);
    ASSERT_NE(nullptr, rows[0].label);
    EXPECT_EQ(127u, std::strlen(rows[0].label));
    EXPECT_STREQ("ims", rows[1].label);
    EXPECT_EQ(1u, rows[1].type);
    EXPECT_EQ(nullptr, rows[2].label);
    CNXD_BuildLabelApnTable(rows, dump.file().c_str(), labels);
    EXPECT_EQ(nullptr, rows[0].label);
}

TEST_F(ApnTable, AttachRecordFromTheStore)
{
    root.set(std::string(kApn1) + "username", std::string(70, 'u'));
    root.set(std::string(kApn1) + "password", "secret");
    root.set(std::string(kApn1) + "auth_flag", "2");
    root.set(std::string(kApn1) + "use_gen_pco", "1");
    root.set(std::string(kApn1) + "gen_pco", "0000000100000011");
    root.set(std::string(kApn1) + "use_oper_pco", "1");
    root.set(std::string(kApn1) + "oper_pco_len", "3");
    root.set(std::string(kApn1) + "oper_pco", "0x0A1b2");
    root.set(std::string(kApn1) + "secure_pco", "1");

    std::array<uint8_t, 360> rec{};
    rec[338] = APN_TYPE_INTERNET;
    ASSERT_EQ(0, CNXD_FillAttachApnInfo(rec));
    EXPECT_EQ(1, rec[0]);                                          // filled
    EXPECT_STREQ("internet", reinterpret_cast<char*>(&rec[2]));    // APN name
    EXPECT_EQ(3, rec[102]);                                        // PDN type
    EXPECT_EQ(0, rec[103]);                                        // IP allocation
    EXPECT_EQ(std::string(63, 'u'), reinterpret_cast<char*>(&rec[104])) << "cut to the field";
    EXPECT_STREQ("secret", reinterpret_cast<char*>(&rec[168]));    // password
    EXPECT_EQ(2, rec[232]);                                        // authentication
    EXPECT_EQ(1, rec[233]);                                        // generic PCO used
    EXPECT_EQ(0x01, rec[234]);                                     // generic PCO bits, high
    EXPECT_EQ(0x03, rec[235]);                                     //   low
    EXPECT_EQ(1, rec[236]);                                        // operator PCO used
    EXPECT_EQ(3, rec[237]);                                        // its length
    const uint8_t pco[] = {0x0A, 0x1B, 0x20, 0x00};
    EXPECT_EQ(0, std::memcmp(pco, &rec[238], sizeof pco));
    EXPECT_EQ(APN_TYPE_INTERNET, rec[338]);
    EXPECT_EQ(1, rec[351]);                                        // secure PCO

    // PCO switched off clears what an earlier fill left.
    root.set(std::string(kApn1) + "use_gen_pco", "0");
    root.set(std::string(kApn1) + "use_oper_pco", "no");
    ASSERT_EQ(0, CNXD_FillAttachApnInfo(rec));
    EXPECT_EQ(0, rec[233] | rec[234] | rec[235] | rec[236] | rec[237] | rec[238]);
}

TEST_F(ApnTable, PdnConnectivityAndDisconnectRecords)
{
    root.set(std::string(kApn2) + "username", std::string(70, 'u'));
    root.set(std::string(kApn2) + "ip_alloc", "1");
    root.set(std::string(kApn2) + "use_oper_pco", "1");
    root.set(std::string(kApn2) + "oper_pco_len", "250");
    root.set(std::string(kApn2) + "oper_pco", std::string(300, 'f') + "x");  // 'x' moves the start
    std::array<uint8_t, 420> rec{};
    rec[0] = 0x5A;  // request type, the caller's
    rec[410] = APN_TYPE_IMS;
    ASSERT_EQ(0, CNXD_FillPdnConnApnInfo(rec));
    EXPECT_EQ(0x5A, rec[0]);
    EXPECT_EQ(1, rec[1]);
    EXPECT_STREQ("ims", reinterpret_cast<char*>(&rec[2]));
    EXPECT_EQ(3, rec[102]);
    EXPECT_EQ(1, rec[103]);
    EXPECT_EQ(std::string(70, 'u'), reinterpret_cast<char*>(&rec[104]));
    EXPECT_EQ(0, rec[204]);
    EXPECT_EQ(1, rec[308]);
    EXPECT_EQ(100, rec[309]) << "length cut to the PCO field";
    EXPECT_EQ(0xFF, rec[310]);
    EXPECT_EQ(0xFF, rec[409]);
    EXPECT_EQ(APN_TYPE_IMS, rec[410]);
    EXPECT_EQ(0, rec[411]);

    // Refused: no entry for the type, a type above 7, a short record.
    std::array<uint8_t, 420> before = rec;
    rec[410] = APN_TYPE_EMERGENCY;
    before[410] = APN_TYPE_EMERGENCY;
    EXPECT_EQ(-1, CNXD_FillPdnConnApnInfo(rec));
    rec[410] = before[410] = 8;
    EXPECT_EQ(-1, CNXD_FillPdnConnApnInfo(rec));
    EXPECT_EQ(before, rec);
    EXPECT_EQ(-1, CNXD_FillPdnConnApnInfo(std::span(rec).first(410)));

    std::array<uint8_t, 69> disc{};
    ASSERT_EQ(0, CNXD_FillPdnDisconnApnName(disc, APN_TYPE_IMS));
    EXPECT_EQ(3, disc[4]);
    EXPECT_EQ(0, std::memcmp("ims", &disc[5], 3));
    root.set(std::string(kApn2) + "apn_name", std::string(65, 'n'));
    ASSERT_EQ(0, CNXD_FillPdnDisconnApnName(disc, APN_TYPE_IMS));
    EXPECT_EQ(65, disc[4]);
    EXPECT_EQ(0, disc[5]) << "a name over 64 bytes is not copied";
    EXPECT_EQ(-1, CNXD_FillPdnDisconnApnName(disc, 9));
}

TEST_F(ApnTable, CidInterfaceTypes)
{
    EXPECT_EQ(-1, CNXD_GetCidInterfaceType(3)) << "never set";
    EXPECT_EQ(0, CNXD_SetCidInterfaceType(0, 4));
    EXPECT_EQ(0, CNXD_SetCidInterfaceType(9, 4));
    for (int cid = 1; cid <= 8; ++cid)
        EXPECT_EQ(0xFF, cid_interface_type_tbl[cid - 1]) << cid;
    EXPECT_EQ(1, CNXD_SetCidInterfaceType(8, 4));
    EXPECT_EQ(4, CNXD_GetCidInterfaceType(8));
    EXPECT_EQ(-1, CNXD_GetCidInterfaceType(0));
    EXPECT_EQ(-1, CNXD_GetCidInterfaceType(9));
}

}  // namespace
}  // namespace cnxd
