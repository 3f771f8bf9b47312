// Bodies of the connection and interface indications: the device arriving
// and leaving, protocol-stack initialisation and online, attach, detach,
// PDN connections and the data interfaces.
#include <strings.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/be.h"
#include "dm/log_paths.h"
#include "download/download.h"
#include "config/confdb_access.h"
#include "confdb.h"
#include "if_record.h"
#include "ind/ind_body.h"
#include "ind/ind_print.h"
#include "ind/ind_watchdog.h"
#include "config/admin_pdn_count.h"
#include "modem/cm_netif.h"
#include "modem/cm_printf.h"
#include "modem/cm_wrappers.h"
#include "modem/device_tables.h"
#include "modem/online_request.h"
#include "server/delivery.h"
#include "shell/dispatcher.h"
#include "shell/script.h"
#include "status/dev_status.h"
#include "watchdog/watchdog.h"

namespace cnxd {
namespace {

// Crash log result record: flag byte (0: last chunk), then the chunk as an
// address word and a 32-bit length.
constexpr size_t CRASH_FLAG = 0;
constexpr size_t CRASH_ADDR = 1;
constexpr size_t CRASH_LEN = 5;
// The chunk bytes forwarded with a crash log result.
constexpr uint32_t CRASH_FWD_CHUNK = 4;

// ---- Interface records ------------------------------------------------------

// The APN name field runs up to the IPv4 address.
constexpr size_t APN_NAME_SIZE = ifrec::IPV4_ADDR - ifrec::APN_NAME;
// APN profiles of the device, walked for an interface the modem left unnamed.
constexpr int APN_PROFILES = 8;
constexpr size_t CONFDB_XML_SIZE = 256;

static_assert(offsetof(LAPI_TID_NODE, ip_alloc) == 7, "byte 7 of a TID entry is its IP allocation");

// The SDK's interface record as a handler works on it: a copy of what the
// SDK handed, zero beyond it (a field the SDK left out reads as 0). Only
// the handed bytes are configured and forwarded.
class nic_info {
public:
    explicit nic_info(std::span<const uint8_t> handed) : len_(std::min(handed.size(), ifrec::SIZE))
    {
        std::copy_n(handed.begin(), len_, rec_.begin());
    }

    std::span<uint8_t> handed() { return std::span(rec_).first(len_); }
    uint8_t byte(size_t off) const { return rec_[off]; }
    void set_byte(size_t off, uint8_t v) { rec_[off] = v; }
    uint16_t be16(size_t off) const { return load_be16(&rec_[off]); }
    uint32_t be32(size_t off) const { return load_be32(&rec_[off]); }
    const uint8_t* at(size_t off) const { return &rec_[off]; }
    // The whole record, zero beyond the handed bytes: what is printed.
    std::span<const uint8_t> bytes() const { return rec_; }

    std::string_view name() const { return text(ifrec::NAME, ifrec::NAME_SIZE); }
    void set_name(const char* name)
    {
        std::fill_n(rec_.begin() + ifrec::NAME, ifrec::NAME_SIZE, 0);
        std::memcpy(&rec_[ifrec::NAME], name, strnlen(name, ifrec::NAME_SIZE - 1));
    }
    std::string_view apn() const
    {
        return text(ifrec::APN_NAME, std::min<size_t>(byte(ifrec::APN_LEN), APN_NAME_SIZE));
    }

private:
    std::string_view text(size_t off, size_t max) const
    {
        const auto* p = reinterpret_cast<const char*>(&rec_[off]);
        return {p, strnlen(p, max)};
    }

    std::array<uint8_t, ifrec::SIZE> rec_{};
    size_t len_;
};

// An interface the modem reports without a name was asked for from
// outside: the device's APN profiles are walked in order, and the walk
// stops at the first profile that cannot be read or whose name equals the
// record's name, ignoring case; the interface is "lte0pdn%d" with the
// zero-based position reached (lte0pdn8 when the walk ran through). The
// record's name is the one compared, not its APN: since that name is
// empty, only an empty profile name stops the walk early, so the
// interface is usually named after the first profile past the configured
// ones, whatever its APN.
void name_outside_interface(nic_info& nic)
{
    cnxd_srv_send_log("Interface request is from outside\n");
    const std::string_view own = nic.name();
    int pos = 0;
    for (; pos < APN_PROFILES; ++pos) {
        char path[64];
        std::snprintf(path, sizeof path, "/vemo/cm_config/apnprofile/apn%d/apn_name", pos + 1);
        std::array<char, CONFDB_XML_SIZE> profile{};
        if (read_confdb_xml(0, path, profile.data()) != 0)
            break;
        const size_t len = strnlen(profile.data(), profile.size());
        if (len == own.size() && strncasecmp(profile.data(), own.data(), len) == 0)
            break;
    }
    char name[ifrec::NAME_SIZE];
    std::snprintf(name, sizeof name, "lte0pdn%d", pos);
    nic.set_name(name);
}

// The IP allocation of the interface's PDN, as the SDK's TID list knows it.
void take_tid_ip_alloc(nic_info& nic)
{
    const uint16_t eps = nic.be16(ifrec::EPS_BEARER);
    if (const LAPI_TID_NODE* tid = query_by_dft_eps_id(eps))
        nic.set_byte(ifrec::IP_ALLOC, tid->ip_alloc);
    else
        cnxd_srv_send_log("Can't find TID by dft_eps_id (%d).\n", eps);
}

// The interface record as it now stands, as far as the SDK handed it.
void forward_nic(ind_call& call, nic_info& nic)
{
    const iovec rec{nic.handed().data(), ind_forward_len(call.row(), call.record())};
    call.forward(std::span<const iovec>(&rec, rec.iov_len ? 1 : 0));
}

// A record the SDK did not hand: only this line, no title, no forward.
ind_next invalid_nic_info()
{
    cnxd_srv_send_log("Invalid nic_info\n");
    return ind_next::quiet;
}

}  // namespace

ind_next ind_body_reset_response(ind_call& call)
{
    call.title();
    cnxd_srv_send_log("System is going to reset now\n");
    return ind_next::forward;
}

// ---- Device and stack ------------------------------------------------------

namespace {

constexpr uint8_t BOOT_IMAGE_EMERGENCY = 2;

// Every interface of the device released at once, with the bearer id that
// says why (device inserted or removed).
void release_every_interface(uint32_t dev, uint16_t bearer)
{
    std::array<uint8_t, ifrec::SIZE> rec{};
    store_be16(&rec[ifrec::EPS_BEARER], bearer);
    cm_configure_network_interface(dev, rec, NETIF_OP_RELEASE);
}

}  // namespace

// Device insert -> crash log request -> crash log result -> protocol-stack
// initialisation -> its response -> first-time sequence: the chain that
// brings an inserted modem on line, while the device is not initialised.
// A modem running its emergency image only takes downloads.
ind_next ind_body_dev_insert(ind_call& call)
{
    call.title();
    const uint32_t dev = call.dev_idx();
    uint8_t boot_image = 0;
    if (cm_get_boot_image_type(dev, &boot_image) != 0) {
        cm_printf(2, "[%-25s] Get Boot Image Type Failed\n", "ind_dev_insert");
        return ind_next::done;
    }
    if (dev < g_emergency.size())
        g_emergency[dev] = boot_image;
    status_inserted(dev, boot_image);
    if (boot_image == BOOT_IMAGE_EMERGENCY) {
        cnxd_srv_send_log("\033[1m\033[31mEMERGENCY MODE\n\033[0m");
        cnxd_srv_send_log("\033[1m\033[31mOnly Use 'download' Command\n\033[0m");
        return ind_next::done;
    }
    cm_get_crash_log_request(dev);
    set_get_operator_complete(dev, 0);
    online_request_forget(dev);
    set_init_complete(dev, 0);
    ind_watchdog_stop();
    release_every_interface(dev, ifrec::BEARER_DEV_INSERTED);
    g_operator = CNXD_GetOperator();
    call.forward();
    tid_list_clean();
    return ind_next::done;
}

ind_next ind_body_dev_remove(ind_call& call)
{
    const uint32_t dev = call.dev_idx();
    status_removed(dev);
    online_request_forget(dev);
    set_init_complete(dev, 0);
    ind_watchdog_stop();
    set_get_operator_complete(dev, 0);
    call.title();
    download_terminate(dev);
    release_every_interface(dev, ifrec::BEARER_DEV_REMOVED);
    g_operator = 0;
    gSmsConfType = SMS_CONF_TYPE_UNSET;
    g_vzw_admin_pdn_reference_count = 0;
    return ind_next::forward;
}

ind_next ind_body_get_crash_log_result(ind_call& call)
{
    call.title();
    const auto rec = call.record();
    const auto chunk = ind_record_chunk(rec, CRASH_ADDR, CRASH_LEN);
    // The last chunk (flag 0) ends its line.
    ind_append_chunk(filepath_device_crash_log, call.dev_idx(), chunk, rec.size() > CRASH_FLAG && rec[CRASH_FLAG] == 0);
    // Pieces: the flag byte and the first bytes of the chunk, each only as
    // far as the record and the chunk go.
    std::array<iovec, 2> pieces{};
    size_t count = 0;
    if (rec.size() > CRASH_FLAG)
        pieces[count++] = {const_cast<uint8_t*>(rec.data() + CRASH_FLAG), 1};
    if (!chunk.empty())
        pieces[count++] = {const_cast<uint8_t*>(chunk.data()), std::min<size_t>(chunk.size(), CRASH_FWD_CHUNK)};
    call.forward(std::span(pieces.data(), count));
    if (get_init_complete(call.dev_idx()) == 0) {
        run_lte_scr();
        cm_ps_init_request(call.dev_idx());
    }
    return ind_next::done;
}

ind_next ind_body_ps_init_response(ind_call& call)
{
    call.title();
    cnxd_srv_send_log("Result : %d\n", static_cast<int32_t>(load_be32(call.record(), 0)));
    LAPI_NotiArm1Reset(0);
    if (get_init_complete(call.dev_idx()) == 0)
        lte_first_time_sequence(call.dev_idx());
    return ind_next::forward;
}

// The online answer ends the device's online wait; a running
// watchdog is the supervisor's business from here on.
ind_next ind_body_online_response(ind_call& call)
{
    call.title();
    cnxd_srv_send_log("Result : %d\n", static_cast<int32_t>(load_be32(call.record(), 0)));
    call.forward();
    status_online(call.dev_idx(), static_cast<int32_t>(load_be32(call.record(), 0)));
    online_event_signal(call.dev_idx());
    int enable = 0;
    lte_watchdog_is_enable(&enable);
    sdk_log(6, "lte_watchdog_is_enable [%d]", enable);
    if (enable) {
        sdk_log(6, "mdmwatch_msgcli_init start");
        sdk_log(3, "MDMWATCH_CMD_ONLINE_RSP_OK send");
        mdmwatch_send(MDMWATCH_CMD_ONLINE_RSP_OK);
    }
    return ind_next::done;
}

// ---- Interfaces ---------------------------------------------------------------

// A PDN interface is up: name it when the modem did not, take its IP
// allocation from the TID list, configure it (which runs DHCP on it when
// its address is to come from DHCP, and puts that address into the record)
// and forward the record with the address.
ind_next ind_body_interface_ready_indication(ind_call& call)
{
    if (call.record().empty())
        return invalid_nic_info();
    nic_info nic(call.record());
    call.title();
    if (nic.name().empty())
        name_outside_interface(nic);
    take_tid_ip_alloc(nic);
    record_print(cnxd_srv_send_log, nic_ready_tbl, nic.bytes());
    cm_configure_network_interface(call.dev_idx(), nic.handed(), NETIF_OP_READY);
    status_interface_up(call.dev_idx(), nic.bytes());
    const uint8_t* a = nic.at(ifrec::IPV4_ADDR);
    cnxd_srv_send_log("Print nic_info before CMD_EVT_INT_READY_IND ===> %d.%d.%d.%d\n", a[0], a[1], a[2], a[3]);
    net_ipv6_get_ia_pd_info(nic.handed().data());
    forward_nic(call, nic);
    return ind_next::done;
}

// A PDN interface is gone (or every one, on a detach): stop its DHCP client.
ind_next ind_body_interface_release_indication(ind_call& call)
{
    if (call.record().empty())
        return invalid_nic_info();
    nic_info nic(call.record());
    if (nic.byte(ifrec::DATA_PATH) != 0)
        return ind_next::quiet;  // not the daemon's interface
    call.title();
    switch (nic.be16(ifrec::EPS_BEARER)) {
    case ifrec::BEARER_ALL:
        cnxd_srv_send_log("Network detached\n");
        break;
    case ifrec::BEARER_DEV_REMOVED:
        cnxd_srv_send_log("Device removed\n");
        break;
    default:
        record_print(cnxd_srv_send_log, nic_head_tbl, nic.bytes());
    }
    cm_configure_network_interface(call.dev_idx(), nic.handed(), NETIF_OP_RELEASE);
    status_interface_released(call.dev_idx(), nic.bytes());
    forward_nic(call, nic);
    return ind_next::done;
}

ind_next ind_body_interface_change_indication(ind_call& call)
{
    if (call.record().empty())
        return invalid_nic_info();
    nic_info nic(call.record());
    call.title();
    record_print(cnxd_srv_send_log, nic_head_tbl, nic.bytes());
    if (nic.byte(ifrec::IPV6_ERROR))
        cm_configure_network_interface(call.dev_idx(), nic.handed(), NETIF_OP_CHANGE);
    forward_nic(call, nic);
    return ind_next::done;
}

}  // namespace cnxd
