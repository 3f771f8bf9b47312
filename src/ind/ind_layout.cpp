#include "ind/ind_layout.h"

#include <array>

namespace cnxd {
namespace {

// Most records that only inform are one or two 32-bit words: a result, a
// status, a cause or a value, signed as the modem sends them.
template <size_t N>
struct words {
    uint16_t cb_id;
    std::array<record_field, N> fields;
};

constexpr words<1> one(uint16_t id, const char* label) { return {id, {rec::snum(label, 0, 4)}}; }
constexpr words<2> two(uint16_t id, const char* first, const char* second)
{
    return {id, {rec::snum(first, 0, 4), rec::snum(second, 4, 4)}};
}

constexpr words<1> ONE_WORD[] = {
    one(15, "Result"),  // PLMN list abort
    one(18, "Result"),  // suspend
    one(20, "Result"),  // offline
    one(22, "Result"),  // PLMN search stop
    one(23, "Result"),  // contents reset and delete
    one(47, "EMM Status"),
    one(48, "Cause"),  // service loss
    one(49, "EMM Cause"),
    one(50, "ESM Cause"),
    one(51, "Cause"),  // RRC disconnected
    one(52, "Cause"),  // RRC connect
    one(56, "Refresh Type"),
    one(59, "Status"),  // UICC no AID deactivate
    one(60, "Status"),  // UICC limited
    one(65, "Result"),  // erase crash log
    one(83, "Result"),  // resume
    one(84, "Result"),  // UE mode change
    one(85, "Result"),  // UE support algorithm change
    one(87, "Result"),  // service
    one(88, "Cause"),   // service request reject
    one(93, "Result"),  // PLMN search index change
    one(94, "Result"),  // automatic cell search
    one(96, "Result"),  // indication mask control
    one(97, "Result"),  // RF status report control
    one(98, "Result"),  // debug log control
    one(99, "Result"),  // save EPS NSC NV
    one(100, "Result"), // RF event control
    one(102, "ROHC Status"),
    one(103, "Cause"),  // PS deactivate
    one(104, "Cause"),  // service request start
    one(105, "Cause"),  // USIM authentication response error
    one(106, "Cause"),  // RRC connection setup received
    one(107, "Cause"),  // RRC connection reject received
    one(110, "Result"), // host IP connect
    one(111, "Mode"),   // test control loopback
    one(41, "SIB1 Pmax"),
    one(43, "PLMN Search Mode"),
    one(44, "EMM State"),
    one(45, "TIN"),
    one(134, "Mode"),  // background scan mode change
    one(135, "Mode"),  // LTE background scan mode change
    one(150, "Result"),  // CSG list abort
    one(151, "Result"),  // CSG select
    one(162, "Result"),  // EMM NI reattach
    one(163, "Reattach Control"),
    one(165, "Result"),  // DM control
    one(171, "Result"),  // keep camp on after detach
    one(172, "Cause"),   // DHCP server connection device loss
    one(174, "Result"),  // factory reset control
    one(179, "Result"),  // 5G additional security control
    one(180, "Result"),  // PLMN configuration set
    one(185, "UICC Change"),
};

constexpr words<2> TWO_WORDS[] = {
    two(54, "Result", "Cause"),  // attach fail status
    two(55, "Result", "Cause"),  // TAU status
    two(27, "Result", "HKADC Value"),
    two(31, "Result", "Temperature"),
    two(167, "Result", "Calibrated Temperature"),
    two(37, "Result", "PLMN Search Status"),
    two(39, "Result", "Serving Cell Frequency"),
    two(40, "Result", "PLMN Search Interval Index"),
    two(86, "Result", "UE Support Algorithm"),
    two(125, "Result", "Message Reference"),  // SMS submit
    two(117, "Result", "RRC Capability"),
    two(119, "Result", "RRC Function"),
    two(121, "Result", "TA Value"),
    two(122, "Result", "eMBMS Control"),
    two(143, "Result", "Session Id"),  // IMS session establishment
    two(136, "Result", "Target Cell"),  // background scan handover
    two(157, "Result", "Packet Count"),  // VLT packet
    two(158, "Signal", "Value"),  // VLT signal
    two(166, "Result", "T3402 Remaining Value"),
    two(164, "Result", "NTZ Control"),
    two(169, "Result", "PHY Function"),
    two(177, "Result", "5G NR Control"),
    two(178, "Result", "System Info Change"),
    two(184, "Result", "SCG State"),
};

using layout_tbl = std::array<record_fields, LAPI_CB_MAX>;

constexpr layout_tbl make_layouts()
{
    layout_tbl t{};
    for (const auto& w : ONE_WORD)
        t[w.cb_id] = w.fields;
    for (const auto& w : TWO_WORDS)
        t[w.cb_id] = w.fields;
    return t;
}

// One layout per id: no id stands in both lists or twice in one.
constexpr bool ids_once()
{
    std::array<int, LAPI_CB_MAX> seen{};
    for (const auto& w : ONE_WORD)
        ++seen[w.cb_id];
    for (const auto& w : TWO_WORDS)
        ++seen[w.cb_id];
    for (int n : seen)
        if (n > 1)
            return false;
    return true;
}
static_assert(ids_once(), "one layout per callback id");

constexpr layout_tbl layouts = make_layouts();

}  // namespace

record_fields ind_layout(uint16_t cb_id) { return cb_id < layouts.size() ? layouts[cb_id] : record_fields{}; }

}  // namespace cnxd
