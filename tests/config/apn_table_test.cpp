#include "config/apn_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "config/confdb_sysroot.h"

namespace cnxd {
namespace {

class ApnTable : public test::StoreTest {
protected:
    void TearDown() override
    {
        for (int cid = 1; cid <= APN_SECTION_COUNT; ++cid)
            CNXD_SetCidInterfaceType(cid, 0xFF);
        StoreTest::TearDown();
    }

    void set_operator(const std::string& code) { root.set("ltenv info operator", code); }
    // A key of the store's APN section `n`.
    void set_apn(int n, const std::string& key, const std::string& value)
    {
        root.set("config wan lte apntable apn" + std::to_string(n) + " " + key, value);
    }
    static uint32_t type_of(std::string name)
    {
        name.resize(32);  // the rest zero bytes
        return CNXD_GetApnTypeByName(name);
    }
};

TEST_F(ApnTable, OperatorTestNamesBecomeTheAdminApn)
{
    set_operator("2");
    set_apn(3, "apn_name", "VZWADMIN");
    set_apn(3, "pdn_label", "admin");
    std::array<char, 10> name{};
    std::strcpy(name.data(), "TestGp.rs");
    EXPECT_EQ(APN_TYPE_ADMIN, CNXD_GetApnTypeByName(name));
    EXPECT_STREQ("vzwadmin", name.data());
    EXPECT_EQ(0, name[8]);

    set_operator("7");
    set_apn(3, "apn_name", "otasn");
    set_apn(3, "pdn_label", "ota");
    std::strcpy(name.data(), "test12.RS");
    EXPECT_EQ(APN_TYPE_ADMIN, CNXD_GetApnTypeByName(name));
    EXPECT_STREQ("otasn", name.data());

    set_operator("0");
    std::strcpy(name.data(), "TestGp.rs");
    EXPECT_EQ(APN_TYPE_NONE, CNXD_GetApnTypeByName(name));
    EXPECT_STREQ("TestGp.rs", name.data()) << "other operators keep the name";
    EXPECT_EQ(APN_TYPE_NONE, CNXD_GetApnTypeByName(std::span<char>(name.data(), 9))) << "unterminated";
    EXPECT_EQ(APN_TYPE_NONE, type_of(""));
}

TEST_F(ApnTable, OperatorTablesMatchLabelsByPrefixInTableOrder)
{
    // Sprint: "ota" is type 2 although it stands first.
    set_operator("7");
    set_apn(1, "pdn_label", "ota");
    set_apn(2, "pdn_label", "INTER");
    EXPECT_EQ(APN_TYPE_ADMIN, type_of("internet"));
    EXPECT_EQ(APN_TYPE_INTERNET, type_of("ims.example"));  // "ims" starts the name asked for
    EXPECT_EQ(APN_TYPE_NONE, type_of("unknown"));
    set_apn(3, "apn_name", "blank");
    set_apn(3, "pdn_label", "");
    EXPECT_EQ(APN_TYPE_ADMIN, type_of("blank")) << "an empty label matches the first row";
    EXPECT_EQ("internet", CNXD_GetApnNameByAPNType(APN_TYPE_ADMIN).value_or("-"));
    EXPECT_EQ("ims", CNXD_GetApnNameByAPNType(APN_TYPE_INTERNET).value_or("-"));
    EXPECT_FALSE(CNXD_GetApnNameByAPNType(APN_TYPE_IMS)) << "no Sprint row";

    // AT&T ("e"): type 6 is firstnet.
    set_operator("e");
    set_apn(1, "pdn_label", "firstnet");
    EXPECT_EQ(APN_TYPE_B2B, type_of("internet"));
    EXPECT_FALSE(CNXD_GetApnNameByAPNType(APN_TYPE_IMS)) << "no section labelled ims";
}

TEST_F(ApnTable, LabelDerivedTable)
{
    // Operator 5 has no table: rows follow the sections, typed by CID.
    set_operator("5");
    EXPECT_EQ(APN_TYPE_INTERNET, type_of("internet"));
    EXPECT_EQ(APN_TYPE_IMS, type_of("ims"));
    EXPECT_EQ("ims", CNXD_GetApnNameByAPNType(1).value_or("-"));
    ASSERT_EQ(1, CNXD_SetCidInterfaceType(1, 5));
    EXPECT_EQ(5u, type_of("internet"));
    EXPECT_EQ("internet", CNXD_GetApnNameByAPNType(5).value_or("-"));
    // The highest type the record fillers take.
    ASSERT_EQ(1, CNXD_SetCidInterfaceType(1, APN_TYPE_MAX));
    std::array<uint8_t, 69> disc{};
    ASSERT_EQ(0, CNXD_FillPdnDisconnApnName(disc, APN_TYPE_MAX));
    EXPECT_EQ(8, disc[4]);
    std::array<uint8_t, 420> rec{};
    rec[410] = APN_TYPE_MAX;
    ASSERT_EQ(0, CNXD_FillPdnConnApnInfo(rec));
    EXPECT_STREQ("internet", reinterpret_cast<char*>(&rec[2]));

    // An over-long label is cut; an empty first label ends the table
    // before it starts.
    label_apn_table rows;
    apn_label_slots labels;
    set_apn(1, "pdn_label", std::string(200, 'L'));
    const ConfdbDump long_label("confdb_wan_lte_apntable", "config wan lte apntable");
    CNXD_BuildLabelApnTable(rows, long_label.file().c_str(), labels);
    ASSERT_NE(nullptr, rows[0].label);
    EXPECT_EQ(127u, std::strlen(rows[0].label));
    EXPECT_STREQ("ims", rows[1].label);
    EXPECT_EQ(1u, rows[1].type);
    EXPECT_EQ(nullptr, rows[2].label);

    set_apn(1, "pdn_label", "");
    const ConfdbDump dump("confdb_wan_lte_apntable", "config wan lte apntable");
    CNXD_BuildLabelApnTable(rows, dump.file().c_str(), labels);
    EXPECT_EQ(nullptr, rows[0].label);
    EXPECT_EQ(APN_TYPE_NONE, type_of("internet"));
    EXPECT_EQ(APN_TYPE_NONE, type_of("ims"));
    EXPECT_FALSE(CNXD_GetApnNameByAPNType(1));
}

// Expects rec[offset] == value for each pair.
void expect_bytes(std::span<const uint8_t> rec, std::initializer_list<std::pair<size_t, uint8_t>> want)
{
    for (auto [at, value] : want)
        EXPECT_EQ(value, rec[at]) << "offset " << at;
}

TEST_F(ApnTable, AttachRecordFromTheStore)
{
    for (auto [key, value] : {std::pair{"username", std::string(70, 'u')}, {"password", "secret"},
                              {"auth_flag", "2"}, {"use_gen_pco", "1"}, {"gen_pco", "0000000100000011"},
                              {"use_oper_pco", "1"}, {"oper_pco_len", "3"}, {"oper_pco", "0X0A1b2"},
                              {"secure_pco", "1"}})
        set_apn(1, key, value);

    std::array<uint8_t, 360> rec{};
    rec[338] = APN_TYPE_INTERNET;
    ASSERT_EQ(0, CNXD_FillAttachApnInfo(rec));
    EXPECT_STREQ("internet", reinterpret_cast<char*>(&rec[2]));
    EXPECT_EQ(std::string(63, 'u'), reinterpret_cast<char*>(&rec[104])) << "cut to the field";
    EXPECT_STREQ("secret", reinterpret_cast<char*>(&rec[168]));
    // Filled, PDN type, IP allocation, authentication, generic PCO used and
    // its bits, operator PCO used, its length and bytes, APN type, secure PCO.
    expect_bytes(rec, {{0, 1}, {102, 2}, {103, 0}, {232, 2}, {233, 1}, {234, 0x01}, {235, 0x03}, {236, 1},
                       {237, 3}, {238, 0x00}, {239, 0x0A}, {240, 0x1B}, {241, 0x20}, {242, 0}, {338, APN_TYPE_INTERNET},
                       {351, 1}});

    // PCO switched off clears what an earlier fill left.
    set_apn(1, "use_gen_pco", "0");
    set_apn(1, "use_oper_pco", "no");
    ASSERT_EQ(0, CNXD_FillAttachApnInfo(rec));
    expect_bytes(rec, {{233, 0}, {234, 0}, {235, 0}, {236, 0}, {237, 0}, {238, 0}});
}

TEST_F(ApnTable, PdnConnectivityAndDisconnectRecords)
{
    set_apn(2, "username", std::string(70, 'u'));
    set_apn(2, "ip_alloc", "1");
    set_apn(2, "use_oper_pco", "1");
    set_apn(2, "oper_pco_len", "250");
    set_apn(2, "oper_pco", std::string(300, 'f') + "x");  // 'x' moves the start
    std::array<uint8_t, 420> rec{};
    rec[0] = 0x5A;  // request type, the caller's
    rec[410] = APN_TYPE_IMS;
    ASSERT_EQ(0, CNXD_FillPdnConnApnInfo(rec));
    EXPECT_STREQ("ims", reinterpret_cast<char*>(&rec[2]));
    EXPECT_EQ(std::string(70, 'u'), reinterpret_cast<char*>(&rec[104]));
    // The operator PCO length is cut to its 100-byte field.
    expect_bytes(rec, {{0, 0x5A}, {1, 1}, {102, 2}, {103, 1}, {204, 0}, {308, 1}, {309, 100}, {310, 0xFF},
                       {409, 0xFF}, {410, APN_TYPE_IMS}, {411, 0}});

    // Refused, record untouched: no entry for the type, a type above 7, a
    // short record.
    for (uint8_t type : {uint8_t{APN_TYPE_EMERGENCY}, uint8_t{8}}) {
        rec[410] = type;
        const auto before = rec;
        EXPECT_EQ(-1, CNXD_FillPdnConnApnInfo(rec)) << int(type);
        EXPECT_EQ(before, rec);
    }
    EXPECT_EQ(-1, CNXD_FillPdnConnApnInfo(std::span(rec).first(410)));

    std::array<uint8_t, 69> disc{};
    ASSERT_EQ(0, CNXD_FillPdnDisconnApnName(disc, APN_TYPE_IMS));
    EXPECT_EQ(3, disc[4]);
    EXPECT_EQ(0, std::memcmp("ims", &disc[5], 3));
    set_apn(2, "apn_name", std::string(65, 'n'));
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
