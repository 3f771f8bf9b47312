// How the simulated modem (one device, index 1) answers: the answer areas
// of the read requests, and the callbacks that follow a request the way a
// modem's would (device insert, boot and protocol-stack answers, attach and
// PDN connections with their interfaces, periodic DM reports, its console).
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "base/be.h"
#include "if_record.h"
#include "sim.h"

char g_host_dump_ip[64];
uint32_t ipv6_addr_chk;
uint32_t ipv6_dns_addr_chk;
uint32_t ipv6_no_radvd_apn;
uint32_t lte_gateway_1;
uint32_t lte_subnet_class_c;
int32_t ipv4_vif_addr;

namespace ltesim {
namespace {

using cnxd::load_be16;
using cnxd::store_be16;
using cnxd::store_be32;
namespace netstats = cnxd::netstats;

constexpr uint32_t MODEM_DEV = 1;
constexpr std::string_view MODEM_VERSION = "ltesim modem 5.0.12.4";

// Callback ids the model produces.
enum : uint32_t {
    CB_POWER_OFF_RSP = 0,
    CB_RESET_RSP = 1,
    CB_ATTACH_RSP = 2,
    CB_ATTACH_EXT_RSP = 3,
    CB_DETACH_RSP = 4,
    CB_PDN_CONN_RSP = 6,
    CB_PDN_CONN_EXT_RSP = 7,
    CB_PDN_DISCONN_RSP = 8,
    CB_ONLINE_RSP = 19,
    CB_OFFLINE_RSP = 20,
    CB_PS_INIT_RSP = 24,
    CB_CRASH_LOG_RESULT = 64,
    CB_DOWNLOAD_RSP = 66,
    CB_UPLOAD_RSP = 67,
    CB_UICC_FROM_DEVICE = 73,
    CB_DEV_INSERT = 75,
    CB_DEV_REMOVE = 76,
    CB_IF_READY = 77,
    CB_IF_RELEASE = 78,
    CB_DM_LOG_RSP = 89,
    CB_DM_LOG_EXT_RSP = 90,
    CB_PROTOCOL_INFO_RSP = 91,
    CB_SET_PROTOCOL_INFO_RSP = 92,
    CB_WATCHDOG_RSP = 156,
};

// Interface record offsets.
constexpr size_t NIC_TYPE = 264, NIC_DATA_PATH = 269, NIC_PDN_TYPE = 270, NIC_IP_ALLOC = 271,
                 NIC_EPS_ID = 274, NIC_APN_LEN = 276, NIC_APN = 277, NIC_IPV4 = 341, NIC_MASK = 345,
                 NIC_GW = 349, NIC_DNS1 = 353, NIC_DNS2 = 357, NIC_IPV6 = 364, NIC_DNS6_1 = 396,
                 NIC_DNS6_2 = 412, NIC_GW6 = 428;
constexpr uint16_t EPS_ALL = 0xFFEF;
static_assert(lapi_cb_record_size(CB_IF_READY) == LAPI_NIC_INFO_SIZE &&
              lapi_cb_record_size(CB_IF_RELEASE) == LAPI_NIC_INFO_SIZE,
              "the interface indications carry the interface record");
constexpr int PDN_SLOTS = LAPI_CONN_INFO_MAX;
constexpr uint16_t FIRST_EPS_ID = 5;

// A read request answered by one plain result record, of the size the SDK
// gives the callback (lapi_cb.def).
struct Reply {
    std::string_view request;
    uint32_t cb_id;
};

constexpr Reply PLAIN_REPLIES[] = {
    {"LAPI_PLMNSearchRequest", 9}, {"LAPI_PLMNListRequest", 11},
    {"LAPI_PLMNListExtRequest", 12}, {"LAPI_PLMNListExt2Request", 13},
    {"LAPI_PLMNListAbortRequest", 15}, {"LAPI_QuerySelectedPLMNRequest", 17},
    {"LAPI_SuspendRequest", 18}, {"LAPI_PLMNSearchStopRequest", 22},
    {"LAPI_ContentsResetAndDeleteRequest", 23}, {"LAPI_BearerResourceAllocation", 25},
    {"LAPI_BearerResourceModification", 25}, {"LAPI_BearerResourceRelease", 26},
    {"LAPI_HKADCReadRequest", 27}, {"LAPI_MobileIDReadRequest", 28},
    {"LAPI_ICCIDReadRequest", 29}, {"LAPI_MSISDNReadRequest", 30},
    {"LAPI_TemperatureReadRequest", 31}, {"LAPI_OPLPNNReadRequest", 32},
    {"LAPI_SPNReadRequest", 33}, {"LAPI_NIDReadRequest", 34},
    {"LAPI_TZReadRequest", 35}, {"LAPI_PLMNSearchStatusReadRequest", 37},
    {"LAPI_IndicationMaskReadRequest", 38}, {"LAPI_ServinigCellFreqReadRequest", 39},
    {"LAPI_PLMNSearchIntervalIndexReadRequest", 40}, {"LAPI_SIB1PmaxReadRequest", 41},
    {"LAPI_EMMInformationReadRequest", 42}, {"LAPI_PLMNSearchModeReadRequest", 43},
    {"LAPI_EMMStateReadRequest", 44}, {"LAPI_TINReadRequest", 45},
    {"LAPI_GUTIReadRequest", 46}, {"LAPI_EraseCrashLogRequest", 65},
    {"LAPI_ResumeRequest", 83}, {"LAPI_UeModeChangeRequest", 84},
    {"LAPI_UESupportAlgorithmChangeRequest", 85}, {"LAPI_UESupportAlgorithmReadRequest", 86},
    {"LAPI_ServiceRequest", 87}, {"LAPI_PLMNSearchIndexChangeRequest", 93},
    {"LAPI_AutomaticCellSearchStartRequest", 94}, {"LAPI_IndicationMaskControlRequest", 96},
    {"LAPI_RFStatusReportControlRequest", 97}, {"LAPI_DebugLogControlRequest", 98},
    {"LAPI_SaveEPSNSCNV", 99}, {"LAPI_RFEventControlRequest", 100},
    {"LAPI_RFMeasureReportRequest", 108}, {"LAPI_HostIPConnectRequest", 110},
    {"LAPI_RRCCapabilityControlRequest", 117}, {"LAPI_RRCCapabilityControlGetRequest", 118},
    {"LAPI_RRCFunctionControlRequest", 119}, {"LAPI_RRCFunctionControlGetRequest", 120},
    {"LAPI_PHYTAInformationRequest", 121}, {"LAPI_EMBMSControlRequest", 122},
    {"LAPI_SMSSubmitRequest", 125}, {"LAPI_IMSSessionEstablishmentRequest", 143},
    {"LAPI_PLMNCSGListRequest", 149}, {"LAPI_PLMNCSGListAbortRequest", 150},
    {"LAPI_PLMNCSGSelectRequest", 151}, {"LAPI_PLMNCSGQuerySelectedRequest", 152},
    {"LAPI_PLMNCSGGetCSGLRequest", 153}, {"LAPI_VLTPacketRequest", 157},
    {"LAPI_GetNASConfigRequest", 160}, {"LAPI_EMMNIREATTACHctrlRequest", 162},
    {"LAPI_DmCtrlRequest", 165}, {"LAPI_ReadT3402RemainValRequest", 166},
    {"LAPI_CalTemperReadRequest", 167}, {"LAPI_ReadForbiddenTAListRequest", 168},
    {"LAPI_PHYFunctionControlRequest", 169}, {"LAPI_PHYFunctionControlGetRequest", 170},
    {"LAPI_KeepCampOnAfterDetachRequest", 171}, {"LAPI_FactoryResetCtrlRequest", 174},
    {"LAPI_5GNRControlRequest", 177}, {"LAPI_5GAddSecurityCtrlRequest", 179},
    {"LAPI_PLMNCfgSetRequest", 180}, {"LAPI_PLMNCfgGetRequest", 181},
    {"LAPI_L2FunctionControlGetRequest", 187},
};

// Every plain answer has a fixed size.
constexpr bool replies_sized()
{
    for (const Reply& r : PLAIN_REPLIES)
        if (lapi_cb_record_size(r.cb_id) <= 0)
            return false;
    return true;
}
static_assert(replies_sized(), "each plain answer's callback has a fixed record size in lapi_cb.def");

// Payload bytes of each basic DM report id (index = report id; -1 none).
constexpr std::array<int, 23> DM_PAYLOAD = {576, 64, 128, 800, 12, 6, 8, 32, 10, 194, -1, 6,
                                            31,  33, 12,  30,  1,  1, 2045, 312, 8, 8, 8};

struct Pdn {
    bool up = false;
    uint16_t eps_id = 0;
    uint8_t apn_type = 0;
    std::string apn;
};

// The firmware image a device is receiving, or last received.
struct Image {
    std::vector<uint8_t> bytes;
    int chunks = 0;
    bool receiving = false;  // false once an end record has come
};

struct Model {
    std::array<Pdn, PDN_SLOTS> pdn;
    std::list<LAPI_TID_NODE> tids;  // entries stay put while listed
    std::array<uint8_t, LAPI_NIC_INFO_SIZE> pd_info{};
    std::map<uint32_t, Image> images;
    std::map<int, std::vector<uint8_t>> nv;  // by NV item
    bool deliver_now = false;
};

Model& model()
{
    static Model m;
    return m;
}

int delay() { return knobs().delay_ms; }

void send_to(uint32_t dev, uint32_t id, std::vector<uint8_t> record, int delay_ms, int group = 0)
{
    Event ev;
    ev.id = id;
    ev.dev = dev;
    ev.record = std::move(record);
    ev.group = group;
    post(std::move(ev), delay_ms);
}

void send(uint32_t id, std::vector<uint8_t> record, int extra_delay = 0, int group = 0)
{
    send_to(MODEM_DEV, id, std::move(record), delay() + extra_delay, group);
}

// A zero-filled record of callback `cb_id`, of the size the SDK gives it.
std::vector<uint8_t> sized_record(uint32_t cb_id)
{
    return std::vector<uint8_t>(static_cast<size_t>(std::max(lapi_cb_record_size(cb_id), 0)), 0);
}

// The same with `result` as its first 32-bit word.
std::vector<uint8_t> result_record(uint32_t cb_id, int32_t result)
{
    std::vector<uint8_t> r = sized_record(cb_id);
    if (r.size() >= 4)
        store_be32(r.data(), static_cast<uint32_t>(result));
    return r;
}

void put_ip4(uint8_t* p, uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    p[0] = a;
    p[1] = b;
    p[2] = c;
    p[3] = d;
}

uint8_t apn_type_of(std::string apn)
{
    std::ranges::transform(apn, apn.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::string_view types[] = {"internet", "ims", "admin", "app", "sos"};
    for (uint8_t t = 0; t < std::size(types); ++t)
        if (apn == types[t])
            return t;
    return 0;
}

std::vector<uint8_t> nic_record(int slot)
{
    const Pdn& p = model().pdn[static_cast<size_t>(slot)];
    std::vector<uint8_t> r(LAPI_NIC_INFO_SIZE, 0);
    const std::string name = "lte0pdn" + std::to_string(slot);
    std::ranges::copy(name, r.begin());
    store_be32(&r[NIC_TYPE], 0);
    r[NIC_DATA_PATH] = 0;
    r[NIC_PDN_TYPE] = static_cast<uint8_t>(knobs().pdn_type);
    r[NIC_IP_ALLOC] = static_cast<uint8_t>(knobs().ip_alloc);
    store_be16(&r[NIC_EPS_ID], p.eps_id);
    const size_t apn_len = std::min<size_t>(p.apn.size(), 63);
    r[NIC_APN_LEN] = static_cast<uint8_t>(apn_len);
    std::copy_n(p.apn.begin(), apn_len, r.begin() + NIC_APN);
    const auto net = static_cast<uint8_t>(slot + 1);
    if (knobs().pdn_type != 1) {
        // Allocation by DHCP leaves the address to the DHCP client.
        if (knobs().ip_alloc == 0)
            put_ip4(&r[NIC_IPV4], 10, 0, net, 2);
        put_ip4(&r[NIC_MASK], 255, 255, 255, 0);
        put_ip4(&r[NIC_GW], 10, 0, net, 1);
        put_ip4(&r[NIC_DNS1], 10, 0, net, 53);
        put_ip4(&r[NIC_DNS2], 10, 0, 0, 53);
    }
    if (knobs().pdn_type != 0) {
        const uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, net, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
        std::copy_n(v6, 16, r.begin() + NIC_IPV6);
        std::copy_n(v6, 16, r.begin() + NIC_DNS6_1);
        r[NIC_DNS6_1 + 15] = 0x53;
        std::copy_n(v6, 16, r.begin() + NIC_DNS6_2);
        r[NIC_DNS6_2 + 15] = 0x54;
        r[NIC_GW6] = 0xfe;
        r[NIC_GW6 + 1] = 0x80;
        r[NIC_GW6 + 15] = 1;
    }
    return r;
}

// Brings a PDN up in `slot`, after its response record has been sent.
void pdn_up(int slot, const std::string& apn)
{
    Pdn& p = model().pdn[static_cast<size_t>(slot)];
    p = {true, static_cast<uint16_t>(FIRST_EPS_ID + slot), apn_type_of(apn), apn};
    LAPI_TID_NODE tid{};
    tid.tid = static_cast<uint8_t>(slot);
    tid.apn_type = p.apn_type;
    tid.dft_eps_id = p.eps_id;
    tid.cid = static_cast<uint8_t>(slot + 1);
    tid.pdn_type = static_cast<uint8_t>(knobs().pdn_type);
    tid.ip_alloc = static_cast<uint8_t>(knobs().ip_alloc);
    std::erase_if(model().tids, [&](const LAPI_TID_NODE& t) { return t.dft_eps_id == p.eps_id; });
    model().tids.push_back(tid);
    send(CB_IF_READY, nic_record(slot), 1);
}

void pdn_down(int slot)
{
    Pdn& p = model().pdn[static_cast<size_t>(slot)];
    if (!p.up)
        return;
    send(CB_IF_RELEASE, nic_record(slot), 1);
    std::erase_if(model().tids, [&](const LAPI_TID_NODE& t) { return t.dft_eps_id == p.eps_id; });
    p = {};
}

int free_slot()
{
    for (int i = 1; i < PDN_SLOTS; ++i)
        if (!model().pdn[static_cast<size_t>(i)].up)
            return i;
    return -1;
}

std::string text_field(std::span<const uint8_t> rec, size_t off, size_t max)
{
    if (rec.size() <= off)
        return {};
    const auto* p = reinterpret_cast<const char*>(rec.data() + off);
    return {p, strnlen(p, std::min(max, rec.size() - off))};
}

// ---- Reactions ----------------------------------------------------------------

void on_attach(const Request& r, uint32_t cb)
{
    std::vector<uint8_t> rsp = sized_record(cb);
    store_be16(rsp.data(), static_cast<uint16_t>(knobs().attach_result));
    store_be16(&rsp[6], FIRST_EPS_ID);
    store_be16(&rsp[8], FIRST_EPS_ID);
    rsp[11] = static_cast<uint8_t>(knobs().ip_alloc);
    send(cb, std::move(rsp));
    if (knobs().attach_result == 0)
        pdn_up(0, text_field(r.record, 2, 100));
}

void on_pdn_connect(const Request& r, uint32_t cb)
{
    const int slot = free_slot();
    std::vector<uint8_t> rsp = sized_record(cb);
    store_be16(rsp.data(), slot < 0 ? 1 : 0);
    if (slot >= 0)
        store_be16(&rsp[6], static_cast<uint16_t>(FIRST_EPS_ID + slot));
    send(cb, std::move(rsp));
    if (slot >= 0)
        pdn_up(slot, text_field(r.record, 2, 100));
}

// The UICC's answer to a command, by the request's command type: the
// data's size and its length and count fields, set to their largest (one
// record read); every other data byte holds a pattern, so every field of
// the answer carries a value.
struct UiccCount {
    uint8_t off;
    uint8_t width;
    uint16_t value;
};
struct UiccAnswer {
    uint16_t type;
    uint16_t size;
    std::array<UiccCount, 4> counts;  // width 0: none
};
constexpr UiccAnswer uicc_answers[] = {
    {0, 18, {}},
    {1, 260, {{{2, 2, 256}}}},
    {2, 262, {{{2, 1, 1}, {3, 1, 255}, {4, 1, 1}, {5, 2, 255}}}},
    {3, 2, {}},
    {4, 2, {}},
    {5, 79, {{{3, 1, 16}, {20, 1, 16}, {37, 1, 16}, {54, 1, 16}}}},
    {6, 6, {}},
    {7, 9, {}},
    {9, 2, {}},
    {10, 4, {}},
    {11, 2, {}},
    {12, 259, {{{2, 2, 255}}}},
    {13, 2, {}},
    {14, 2, {}},
};
constexpr size_t UICC_HEAD = 6;

void on_uicc(const Request& r)
{
    const uint16_t type = r.record.size() >= 2 ? load_be16(r.record, 0) : 0;
    std::vector<uint8_t> rsp(UICC_HEAD, 0);
    store_be16(&rsp[4], type);
    for (const UiccAnswer& a : uicc_answers) {
        if (a.type != type)
            continue;
        rsp.resize(UICC_HEAD + a.size);
        for (size_t i = 0; i < a.size; ++i)
            rsp[UICC_HEAD + i] = static_cast<uint8_t>(1 + i % 250);
        for (const UiccCount& c : a.counts) {
            if (c.width == 1)
                rsp[UICC_HEAD + c.off] = static_cast<uint8_t>(c.value);
            else if (c.width == 2)
                store_be16(&rsp[UICC_HEAD + c.off], c.value);
        }
    }
    send(CB_UICC_FROM_DEVICE, std::move(rsp));
}

void on_pdn_disconnect(const Request& r)
{
    const uint16_t eps = load_be16(r.record, 0);
    std::vector<uint8_t> rsp = sized_record(CB_PDN_DISCONN_RSP);
    store_be16(&rsp[6], eps);
    send(CB_PDN_DISCONN_RSP, std::move(rsp));
    for (int i = 0; i < PDN_SLOTS; ++i)
        if (model().pdn[static_cast<size_t>(i)].up && model().pdn[static_cast<size_t>(i)].eps_id == eps)
            pdn_down(i);
}

// Every PDN goes, with one release for all of them (the network detached).
void release_all()
{
    bool any = false;
    for (Pdn& p : model().pdn) {
        any = any || p.up;
        p = {};
    }
    model().tids.clear();
    if (any) {
        std::vector<uint8_t> all(LAPI_NIC_INFO_SIZE, 0);
        store_be16(&all[NIC_EPS_ID], EPS_ALL);
        send(CB_IF_RELEASE, std::move(all), 1);
    }
}

void on_detach()
{
    send(CB_DETACH_RSP, sized_record(CB_DETACH_RSP));
    release_all();
}

// Protocol information answer: result, type, then the type's data.
void on_protocol_info(const Request& r)
{
    const uint16_t type = load_be16(r.record, 0);
    size_t extra = 0;
    switch (type) {
    case 0: case 1: case 10: extra = 4; break;
    case 2: extra = 215; break;
    case 4: extra = 31; break;
    case 6: extra = 2; break;
    case 7: extra = 15; break;
    case 8: extra = 2; break;
    case 9: case 11: extra = 1; break;
    default: extra = 0; break;
    }
    std::vector<uint8_t> rsp(5 + extra, 0);
    store_be16(&rsp[2], type);
    if (type == 0)
        rsp[4] = rsp[5] = 1;  // self cell search, self attach
    if (type == 5)
        rsp[4] = static_cast<uint8_t>(knobs().op);
    if (type == 6)
        rsp[4] = 0;
    if (type == 7)
        for (size_t i = 0; i < 16; ++i)
            rsp[4 + i] = static_cast<uint8_t>((3 + i) % 10);
    send(CB_PROTOCOL_INFO_RSP, std::move(rsp));
}

// A DM log read: reports `count` times (0: until stopped) every `interval`
// seconds, the first at once; an interval of 0 gives one report.
void on_dm_log_read(const Request& r)
{
    if (r.record.size() < LAPI_DM_LOG_READ_SIZE)
        return;
    const uint16_t log_id = load_be16(r.record, 0);
    const int group = 0x10000 + log_id;
    cancel_group(group);
    if (r.record[2] != 0)
        return;  // stop
    const uint16_t report_id = log_id < 10 ? log_id : static_cast<uint16_t>(log_id + 1);
    const int interval = r.record[3];
    // Without an end the reports run for an hour; a stop ends them sooner.
    const int count = interval == 0 ? 1 : (r.record[4] ? r.record[4] : 3600 / interval);
    const int payload = report_id < DM_PAYLOAD.size() ? std::max(DM_PAYLOAD[report_id], 0) : 0;
    for (int i = 0; i < count; ++i) {
        // Counters that differ from word to word: a report worth reading.
        std::vector<uint8_t> rsp(4 + static_cast<size_t>(payload), 0);
        store_be16(&rsp[2], report_id);
        for (size_t w = 4; w + 2 <= rsp.size(); w += 2)
            store_be16(&rsp[w], static_cast<uint16_t>(((w - 4) / 2 + static_cast<size_t>(i)) % 100));
        send(CB_DM_LOG_RSP, std::move(rsp), i * interval * 1000, group);
    }
}

// Serving-cell figures of the extended reports that move from report to
// report, so that a reader sees a living signal: the first 16-bit data
// word is `base` plus a wave of `swing` over a dozen reports (each type at
// its own phase), the second is `low`.
struct CellFigure {
    uint8_t type;
    int16_t base;
    int16_t swing;
    uint16_t low;
};
constexpr CellFigure CELL_FIGURES[] = {
    {65, 301, 0, 7},       // physical cell id
    {66, 0x300, 0, 7},     // band 3 (the first byte)
    {70, 1, 0, 0xE240},    // NAS cell id 123456
    {73, -97, 9, 7},       // RSRP, dBm
    {74, -22, 6, 7},       // RSRQ, half dB
    {75, 12, 8, 7},        // SINR, dB
    {239, 517, 0, 7},      // NR physical cell id
    {240, 78, 0, 7},       // NR band
    {243, -101, 10, 7},    // NR RSRP, dBm
    {244, -115, 30, 7},    // NR RSRQ, tenths of a dB
    {245, 95, 60, 7},      // NR SINR, tenths of a dB
};

// The two data words of report `i` of an extended type.
std::array<uint16_t, 2> dm_ext_words(uint8_t type, int i)
{
    const auto* f = std::ranges::find(CELL_FIGURES, type, &CellFigure::type);
    if (f == std::end(CELL_FIGURES))
        return {static_cast<uint16_t>(42 - i), 7};
    constexpr int PERIOD = 12;
    const int t = (i + type) % PERIOD;
    const int wave = (t < PERIOD / 2 ? t : PERIOD - t) - PERIOD / 4;  // -3 .. 3
    return {static_cast<uint16_t>(f->base + wave * f->swing / 3), f->low};
}

void on_dm_log_ext_read(const Request& r)
{
    if (r.bytes.size() < LAPI_DM_LOG_EXT_READ_SIZE)
        return;
    const int group = 0x20000 + r.bytes[1];
    cancel_group(group);
    if (r.bytes[0] != 0)
        return;
    const int interval = r.bytes[2];
    const int count = interval == 0 ? 1 : (r.bytes[3] ? r.bytes[3] : 3600 / interval);
    const size_t items = r.bytes.size() > 4 ? std::min<size_t>(r.bytes[4], r.bytes.size() - 5) : 0;
    for (int i = 0; i < count; ++i)
        for (size_t k = 0; k < items; ++k) {
            // Four data bytes: two 16-bit values (a value, a pair or a
            // count of cells as the type reads them), 42 - i and 7 for a
            // type without a moving figure.
            std::vector<uint8_t> rsp(12, 0);
            store_be16(&rsp[4], r.bytes[5 + k]);
            store_be16(&rsp[6], 4);
            const auto words = dm_ext_words(r.bytes[5 + k], i);
            store_be16(&rsp[8], words[0]);
            store_be16(&rsp[10], words[1]);
            send(CB_DM_LOG_EXT_RSP, std::move(rsp), i * interval * 1000, group);
        }
}

// Transfer record fields (lapi_size.h has the layout).
constexpr size_t XFER_OFFSET = 262, XFER_DATA = 270, XFER_CHUNK = 16384;
constexpr uint32_t XFER_END_LEN = 14;
constexpr uint32_t XFER_END_SUCCESS = 0xFFFFFFFE, XFER_END_FAILURE = 0xFFFFFFFD;
constexpr int32_t DOWNLOAD_CRC_ERROR = 2;

// Answers a download request of `dev`, at once when the knob says so.
void answer_download(uint32_t dev, int32_t code)
{
    const bool early = knobs().download_early != 0;
    model().deliver_now = early;
    send_to(dev, CB_DOWNLOAD_RSP, result_record(CB_DOWNLOAD_RSP, code), early ? 0 : delay());
}

// A firmware chunk. A full chunk at offset 0 begins a new image, and so
// does a short one whose offset is its own length (an image of one short
// chunk: the last chunk carries the offset of its end); so does any chunk
// after an end record. The chunk counter picks the chunks the knobs answer
// otherwise.
void on_firmware_chunk(uint32_t dev, uint32_t offset, std::span<const uint8_t> data)
{
    Image& img = model().images[dev];
    const bool full = data.size() == XFER_CHUNK;
    if (!img.receiving || (full && offset == 0) || (!full && offset == data.size()))
        img = {{}, 0, true};
    img.bytes.insert(img.bytes.end(), data.begin(), data.end());
    ++img.chunks;
    if (img.chunks == knobs().download_silent_chunk)
        return;
    answer_download(dev, img.chunks == knobs().download_crc_chunk ? DOWNLOAD_CRC_ERROR : 0);
}

void on_download(const Request& r)
{
    const uint32_t dev = r.dev.value_or(MODEM_DEV);
    const auto rec = r.record;
    if (rec.size() < XFER_DATA)
        return answer_download(dev, 1);
    const uint32_t offset = cnxd::load_be32(rec, XFER_OFFSET);
    const auto data = rec.subspan(XFER_DATA);
    if (load_be16(rec, LAPI_TRANSFER_TYPE_FIELD) == LAPI_TRANSFER_NV_TYPE) {
        model().nv[static_cast<int>(offset >> 8)].assign(data.begin(), data.end());
        return answer_download(dev, 0);
    }
    const uint32_t len = cnxd::load_be32(rec, LAPI_TRANSFER_LEN_FIELD);
    if (len == XFER_END_LEN && (offset == XFER_END_SUCCESS || offset == XFER_END_FAILURE)) {
        model().images[dev].receiving = false;
        if (!knobs().download_silent_end)
            answer_download(dev, 0);
        return;
    }
    on_firmware_chunk(dev, offset, data);
}

// The NV item the upload names (its third word is the item times 256):
// what a test set or a download left there, else 256 bytes holding the
// modem's MAC address at 88.
void on_upload(const Request& r)
{
    const int item = r.record.size() > 4 ? r.record[4] : 0;
    std::vector<uint8_t> data(256, 0);
    const uint8_t mac[6] = {0x00, 0x1e, 0x42, 0x00, 0x00, 0x01};
    std::copy_n(mac, 6, data.begin() + 88);
    if (const auto it = model().nv.find(item); it != model().nv.end())
        data = it->second;
    std::vector<uint8_t> rsp(10, 0);
    std::copy_n(r.record.begin(), std::min<size_t>(6, r.record.size()), rsp.begin());
    store_be32(&rsp[6], static_cast<uint32_t>(data.size()));
    rsp.insert(rsp.end(), data.begin(), data.end());
    send_to(r.dev.value_or(MODEM_DEV), CB_UPLOAD_RSP, std::move(rsp), delay());
}

void console_out(const std::string& text)
{
    std::vector<uint8_t> rec(text.begin(), text.end());
    send(LAPI_CB_CLI_CMD_RSP, std::move(rec));
}

// The modem's console: a few commands of its own.
void on_console(const Request& r)
{
    std::string line(r.bytes.begin(), r.bytes.end());
    line = line.substr(0, line.find_first_of(std::string("\r\n\0", 3)));
    if (line == "help") {
        console_out("commands: help, ver, ipc con always_buff N\n");
    } else if (line == "ver") {
        console_out(std::string(MODEM_VERSION) + "\n");
    } else if (line.starts_with("ipc con always_buff ")) {
        console_out("always_buff " + line.substr(20) + "\n");
    } else if (!line.empty()) {
        console_out("unknown command: " + line + "\n");
    }
}

void on_crash_log()
{
    Event ev;
    ev.id = CB_CRASH_LOG_RESULT;
    ev.dev = MODEM_DEV;
    const std::string text = "no crash since power on";
    ev.chunk.assign(text.begin(), text.end());
    ev.record.assign(9, 0);  // flag 0 (last chunk), address word, length
    ev.addr_field = 1;
    store_be32(&ev.record[5], static_cast<uint32_t>(text.size()));
    post(std::move(ev), delay());
}

// A reset modem comes back without any PDN.
void on_reset()
{
    model().pdn = {};
    model().tids.clear();
    send(CB_RESET_RSP, {});
    send(CB_DEV_REMOVE, {}, 100);
    send(CB_DEV_INSERT, {}, 300);
}

using Reaction = void (*)(const Request&);

struct ReactionRow {
    std::string_view request;
    Reaction react;
};

constexpr ReactionRow REACTIONS[] = {
    {"LAPI_GetCrashLogRequest", [](const Request&) { on_crash_log(); }},
    {"LAPI_PSInitRequest", [](const Request&) { send(CB_PS_INIT_RSP, result_record(CB_PS_INIT_RSP, knobs().ps_init_result)); }},
    {"LAPI_OnlineRequest", [](const Request&) { send(CB_ONLINE_RSP, result_record(CB_ONLINE_RSP, knobs().online_result)); }},
    {"LAPI_OfflineRequest", [](const Request&) { send(CB_OFFLINE_RSP, result_record(CB_OFFLINE_RSP, 0)); }},
    {"LAPI_OfflineRequestExtension", [](const Request&) { send(CB_OFFLINE_RSP, result_record(CB_OFFLINE_RSP, 0)); }},
    {"LAPI_GetProtocolInfoRequest", on_protocol_info},
    {"LAPI_SetProtocolInfoRequest",
     [](const Request& r) {
         std::vector<uint8_t> rsp = sized_record(CB_SET_PROTOCOL_INFO_RSP);
         if (r.handle && !r.bytes.empty())
             rsp[1] = r.bytes[1];
         send(CB_SET_PROTOCOL_INFO_RSP, std::move(rsp));
     }},
    {"LAPI_AttachRequest", [](const Request& r) { on_attach(r, CB_ATTACH_RSP); }},
    {"LAPI_AttachRequestEXT", [](const Request& r) { on_attach(r, CB_ATTACH_EXT_RSP); }},
    {"LAPI_PDNConnRequest", [](const Request& r) { on_pdn_connect(r, CB_PDN_CONN_RSP); }},
    {"LAPI_PDNConnRequestEXT", [](const Request& r) { on_pdn_connect(r, CB_PDN_CONN_EXT_RSP); }},
    {"LAPI_PDNDisconnRequest", on_pdn_disconnect},
    {"LAPI_DetachRequest", [](const Request&) { on_detach(); }},
    {"LAPI_DeviceReset", [](const Request&) { on_reset(); }},
    {"LAPI_DevicePowerOff",
     [](const Request&) {
         send(CB_POWER_OFF_RSP, {});
         send(CB_DEV_REMOVE, {}, 100);
     }},
    {"LAPI_DMLogReadRequest", on_dm_log_read},
    {"LAPI_DMLogExtReadRequest", on_dm_log_ext_read},
    {"LAPI_WatchdogRequest",
     [](const Request&) {
         if (knobs().watchdog_answer)
             send(CB_WATCHDOG_RSP, result_record(CB_WATCHDOG_RSP, 0), knobs().watchdog_delay_ms);
     }},
    {"LAPI_DownloadBinary", on_download},
    {"LAPI_UploadBinary", on_upload},
    {"LAPI_UICCRequest", on_uicc},
    {"LAPI_SendDMCommand", on_console},
    {"LAPI_CLI_CMD_RSP_DELIVER_IND",
     [](const Request& r) {
         if (r.bytes.size() > 1)
             console_out(std::string(r.bytes.begin() + 1, r.bytes.end()));
     }},
};

// ---- Answer areas ------------------------------------------------------------

void answer_device_info(uint8_t* a)
{
    constexpr uint8_t info[] = {2, 1, 0, 3,   // SDK version
                                1, 4, 2, 0,   // driver version
                                5, 0, 12, 4,  // firmware version
                                1, 0,         // chip revision
                                0x00, 0x1e, 0x42, 0x00, 0x00, 0x01};
    std::copy(std::begin(info), std::end(info), a);
}

void answer_device_info_ext(uint8_t* a)
{
    constexpr uint8_t proto[] = {3, 1, 0, 0};
    std::copy(std::begin(proto), std::end(proto), a);
    std::strcpy(reinterpret_cast<char*>(a + 4), "lte0");
    std::strcpy(reinterpret_cast<char*>(a + 260), "ltesim LTE modem");
    std::strcpy(reinterpret_cast<char*>(a + 516), "B1 B3 B7 B20");
}

// Every NIC alike.
void answer_network_info(uint8_t* a)
{
    constexpr std::pair<size_t, uint32_t> counters[] = {
        {netstats::TX_PACKETS, 1200}, {netstats::RX_PACKETS, 900}, {netstats::TX_BYTES, 1500000},
        {netstats::RX_BYTES, 120000}, {netstats::TX_DROPPED, 0},  {netstats::RX_DROPPED, 0},
    };
    for (const auto& [at, value] : counters)
        store_be32(a + at, value);
}

void answer_device_list(uint8_t* a)
{
    if (!knobs().device_present)
        return;
    store_be32(a, 1);
    store_be32(a + 4, MODEM_DEV);
    std::strcpy(reinterpret_cast<char*>(a + 8), "lte0");
    constexpr uint8_t mac[] = {0x00, 0x1e, 0x42, 0x00, 0x00, 0x01};
    std::copy(std::begin(mac), std::end(mac), a + 8 + 256);
}

void answer_connection_info(uint8_t* a)
{
    uint32_t n = 0;
    for (int i = 0; i < PDN_SLOTS; ++i) {
        if (!model().pdn[static_cast<size_t>(i)].up)
            continue;
        const auto rec = nic_record(i);
        std::ranges::copy(rec, a + 4 + n * LAPI_NIC_INFO_SIZE);
        ++n;
    }
    store_be32(a, n);
}

}  // namespace

void model_answer(const Request& r)
{
    const std::string_view name = r.name;
    uint8_t* a = r.answer;
    std::memset(a, 0, r.answer_size);
    if (name == "LAPI_GetBootImageType")
        a[0] = static_cast<uint8_t>(knobs().boot_image_type);
    else if (name == "LAPI_GetDeviceInformation")
        answer_device_info(a);
    else if (name == "LAPI_GetDeviceInformationExtension")
        answer_device_info_ext(a);
    else if (name == "LAPI_GetNetworkInformation")
        answer_network_info(a);
    else if (name == "LAPI_GetDeviceList")
        answer_device_list(a);
    else if (name == "LAPI_GetConnectionInfo")
        answer_connection_info(a);
    else if (name == "LAPI_GetAPNType" || name == "LAPI_GetAPNTypeByDftEPSid")
        a[0] = 0;
    else if (name == "LAPI_GetIpv6MtuSize")
        store_be16(a, 1500);
}

namespace {

// What a request sets off: a reaction, or else a plain reply with this
// callback.
struct Action {
    Reaction react = nullptr;
    uint32_t cb_id = 0;
};

// The tables' action for `name` (a reaction wins over a plain reply), none
// for most requests.
std::optional<Action> search_tables(std::string_view name)
{
    for (const ReactionRow& row : REACTIONS)
        if (row.request == name)
            return Action{row.react, 0};
    for (const Reply& reply : PLAIN_REPLIES)
        if (reply.request == name)
            return Action{nullptr, reply.cb_id};
    return std::nullopt;
}

// Every request names its function with the same literal each time, so
// the tables are searched once per literal: searching them row by row on
// every call cost more than the rest of the call. The state lock, held by
// every request, guards the cache.
void react(const Request& r)
{
    static std::unordered_map<const char*, std::optional<Action>> by_literal;
    const auto [it, fresh] = by_literal.try_emplace(r.name);
    if (fresh)
        it->second = search_tables(r.name);
    if (!it->second)
        return;
    if (it->second->react)
        it->second->react(r);
    else
        send(it->second->cb_id, result_record(it->second->cb_id, 0));
}

}  // namespace

bool model_react(const Request& r)
{
    model().deliver_now = false;
    react(r);
    return model().deliver_now;
}

std::vector<uint8_t> model_image(uint32_t dev)
{
    const auto it = model().images.find(dev);
    return it == model().images.end() ? std::vector<uint8_t>{} : it->second.bytes;
}

void model_set_nv(int item, std::vector<uint8_t> data) { model().nv[item] = std::move(data); }

void model_reset()
{
    model() = Model{};
}

void model_initialized()
{
    if (knobs().device_present)
        send(CB_DEV_INSERT, {});
}

void model_device_present(int present)
{
    if (!sdk_open_locked())
        return;
    if (!present)
        model() = Model{};
    send(present ? CB_DEV_INSERT : CB_DEV_REMOVE, {});
}

std::string model_pdn(int slot, std::optional<std::string_view> apn)
{
    if (!sdk_open_locked())
        return "the SDK is not open";
    if (slot < 0) {
        release_all();
        return "";
    }
    if (apn) {
        pdn_up(slot, std::string(*apn));
        return "";
    }
    if (!model().pdn[static_cast<size_t>(slot)].up)
        return "pdn " + std::to_string(slot) + " is not up";
    pdn_down(slot);
    return "";
}

}  // namespace ltesim

using ltesim::model;

extern "C" {

int getApnTypeByDefEPSid(uint16_t dft_eps_id)
{
    std::lock_guard g(ltesim::lock());
    for (const LAPI_TID_NODE& t : model().tids)
        if (t.dft_eps_id == dft_eps_id)
            return t.apn_type;
    return 255;
}

int deleteTidByApnType(uint8_t apn_type)
{
    std::lock_guard g(ltesim::lock());
    const auto n = std::erase_if(model().tids, [&](const LAPI_TID_NODE& t) { return t.apn_type == apn_type; });
    return n ? 0 : -1;
}

LAPI_TID_NODE* query_by_dft_eps_id(uint16_t dft_eps_id)
{
    std::lock_guard g(ltesim::lock());
    for (LAPI_TID_NODE& t : model().tids)
        if (t.dft_eps_id == dft_eps_id)
            return &t;
    return nullptr;
}

void tid_list_clean(void)
{
    std::lock_guard g(ltesim::lock());
    model().tids.clear();
}

int net_ipv6_get_ia_pd_info(void* nic_info)
{
    if (!nic_info)
        return -1;
    const auto* rec = static_cast<const uint8_t*>(nic_info);
    const bool has_v6 = std::any_of(rec + 364, rec + 380, [](uint8_t b) { return b != 0; });
    if (!has_v6)
        return -1;
    std::lock_guard g(ltesim::lock());
    std::copy_n(rec, LAPI_NIC_INFO_SIZE, model().pd_info.begin());
    return 0;
}

int32_t D2H_by_index(uint32_t hAPI, uint32_t index)
{
    (void)hAPI;
    (void)index;
    return ltesim::sdk_open() ? 0 : -1;
}

int32_t D4H_by_index(uint32_t hAPI, uint32_t index)
{
    (void)hAPI;
    (void)index;
    return ltesim::sdk_open() ? 0 : -1;
}

}  // extern "C"
