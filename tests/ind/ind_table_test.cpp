// The callback table against the expectations written down apart from it,
// and the forward-length rules of the records whose size depends on them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/be.h"
#include "ind/expected.h"
#include "ind/ind.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(CallbackTable, EveryRowIsWhatItShouldBe)
{
    ASSERT_EQ(std::size(expected_tbl), ind_callback_tbl.size());
    const Bytes big(8192, 0);  // a generous record: what is forwarded is the row's own size
    for (size_t i = 0; i < ind_callback_tbl.size(); ++i) {
        const ind_row& row = ind_callback_tbl[i];
        const expected_row& want = expected_tbl[i];
        SCOPED_TRACE(want.name);
        EXPECT_EQ(want.order, row.order);
        EXPECT_EQ(want.id, row.cb_id);
        EXPECT_EQ(std::string(want.name), row.name);
        EXPECT_EQ(want.event, row.event);
        const bool other_form = row.cb_id == LAPI_CB_ASCII_FROM_DEVICE || row.cb_id == LAPI_CB_CLI_CMD_RSP;
        EXPECT_EQ(!other_form, std::holds_alternative<LAPI_CALLBACK>(row.handler));
        switch (want.forward.how) {
        case fwd::bytes:
            EXPECT_EQ(ind_fwd_len::fixed, row.fwd.how);
            EXPECT_EQ(want.forward.n, ind_forward_len(row, big));
            // A record shorter by one is forwarded as far as it goes.
            EXPECT_EQ(want.forward.n - 1, ind_forward_len(row, std::span(big).first(want.forward.n - 1)));
            break;
        case fwd::idx:
            EXPECT_EQ(ind_fwd_len::index_only, row.fwd.how);
            EXPECT_EQ(0u, ind_forward_len(row, big));
            break;
        case fwd::none:
            EXPECT_EQ(ind_fwd_len::nothing, row.fwd.how);
            break;
        case fwd::special:
            EXPECT_TRUE(row.fwd.how == ind_fwd_len::rule || row.fwd.how == ind_fwd_len::custom);
            EXPECT_TRUE(row.fwd.how != ind_fwd_len::custom || row.body) << "custom pieces come from a body";
            break;
        }
    }
}

Bytes with_be16(size_t len, size_t off, uint16_t v)
{
    Bytes r(len, 0);
    store_be16(&r[off], v);
    return r;
}

TEST(ForwardRules, ProtocolInformationCarriesItsTypesData)
{
    struct Case {
        uint16_t type;
        uint8_t first;
        uint32_t len;
    };
    const Case cases[] = {
        {0, 0, 9},  {1, 0, 9}, {10, 0, 9}, {2, 0, 220}, {2, 254, 220}, {2, 255, 1718}, {4, 0, 36},  {5, 0, 5},
        {6, 1, 16}, {6, 0, 7}, {6, 2, 7},  {7, 0, 20},  {8, 0, 7},     {9, 0, 6},      {11, 0, 6},  {3, 0, 5},
        {12, 0, 5}, {0xffff, 0, 5},
    };
    for (const Case& c : cases) {
        Bytes r = with_be16(2048, 2, c.type);
        r[4] = c.first;
        EXPECT_EQ(c.len, ind_len_protocol_info(r)) << "type " << c.type << " first " << int{c.first};
    }
    const ind_row& row = ind_callback_tbl[79];
    ASSERT_STREQ("ind_get_protocol_info_response", row.name);
    EXPECT_EQ(0u, ind_forward_len(row, {})) << "an empty record forwards nothing";
    EXPECT_EQ(7u, ind_forward_len(row, Bytes(7, 0))) << "type 0 cut short";
}

TEST(ForwardRules, DataLengthsAddUpWithinTheRecordAndTheFrame)
{
    Bytes up(16, 0);
    store_be32(&up[6], 300);
    EXPECT_EQ(310u, ind_len_binary_upload(up));
    store_be32(&up[6], 0xfffffffe);
    EXPECT_EQ(0xffffffffu, ind_len_binary_upload(up)) << "no wrap";
    EXPECT_EQ(10u, ind_len_binary_upload(Bytes(9, 0xff))) << "a length field cut short reads 0";
    EXPECT_EQ(8u + 0x0102, ind_len_dm_log_ext(with_be16(8, 6, 0x0102)));
    EXPECT_EQ(77u, ind_len_record(Bytes(77, 0)));

    const ind_row& upload = ind_callback_tbl[48];
    ASSERT_STREQ("ind_binary_upload_response", upload.name);
    Bytes r(40, 0);
    store_be32(&r[6], 1000);
    EXPECT_EQ(40u, ind_forward_len(upload, r)) << "the record holds only 40 bytes";
    Bytes huge(10000, 0);
    store_be32(&huge[6], 9000);
    EXPECT_EQ(IND_FWD_ROOM, ind_forward_len(upload, huge)) << "one frame holds at most this much";
}

}  // namespace
}  // namespace cnxd::test
