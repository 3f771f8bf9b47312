#include "status/dev_status.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "base/be.h"
#include "if_record.h"

namespace cnxd {
namespace {

// ---- Serving-cell figures of the extended DM reports ------------------------

enum class figure : uint8_t { rsrp, rsrq, sinr, pci, band, cell_id };

// One extended report type that carries one serving-cell figure: its
// width and sign, the tenths one unit of it makes, and the range the
// modem reports as valid (outside it: not valid).
struct figure_row {
    uint16_t type;
    status_rat rat;
    figure what;
    uint8_t width;
    bool is_signed;
    int32_t tenths;
    int64_t lo, hi;
};

constexpr figure_row FIGURES[] = {
    {65, status_rat::lte, figure::pci, 2, false, 1, 0, 0xFFFE},
    {66, status_rat::lte, figure::band, 1, false, 1, 0, 254},
    {70, status_rat::lte, figure::cell_id, 4, false, 1, 0, UINT32_MAX},
    {73, status_rat::lte, figure::rsrp, 2, true, 10, -149, INT16_MAX},
    {74, status_rat::lte, figure::rsrq, 2, true, 5, -59, INT16_MAX},  // half dB
    {75, status_rat::lte, figure::sinr, 2, true, 10, INT16_MIN, INT16_MAX},
    {239, status_rat::nr, figure::pci, 2, true, 1, 0, INT16_MAX},
    {240, status_rat::nr, figure::band, 2, true, 1, 0, INT16_MAX},
    {243, status_rat::nr, figure::rsrp, 2, true, 10, INT16_MIN, INT16_MAX},
    {244, status_rat::nr, figure::rsrq, 2, true, 1, INT16_MIN, INT16_MAX},  // tenths
    {245, status_rat::nr, figure::sinr, 2, true, 1, INT16_MIN, INT16_MAX},  // tenths
};

// Reports of one moment (the modem sends each figure as a report of its
// own) make one history sample.
constexpr auto SAMPLE_SPAN = std::chrono::milliseconds(500);

std::mutex lock;
std::map<uint32_t, status_device> devices;

// Applies `change` to the device's record (made on its first news) under
// the lock; news of an index beyond the device tables is dropped.
template <typename Change>
void update(uint32_t dev, Change change)
{
    if (dev >= STATUS_DEVICES)
        return;
    const std::lock_guard g(lock);
    change(devices[dev]);
}

std::string text_at(std::span<const uint8_t> nic, size_t off, size_t max)
{
    if (off >= nic.size())
        return {};
    const auto* p = reinterpret_cast<const char*>(nic.data() + off);
    return std::string(p, strnlen(p, std::min(max, nic.size() - off)));
}

std::string address(std::span<const uint8_t> nic, int family, size_t off, size_t size)
{
    if (off + size > nic.size())
        return {};
    const auto bytes = nic.subspan(off, size);
    if (std::ranges::all_of(bytes, [](uint8_t b) { return b == 0; }))
        return {};
    char buf[INET6_ADDRSTRLEN];
    return inet_ntop(family, nic.data() + off, buf, sizeof buf) ? buf : "";
}

void push(std::vector<status_tenths>& history, status_tenths v)
{
    if (history.size() == STATUS_HISTORY)
        history.erase(history.begin());
    history.push_back(v);
}

uint8_t byte_at(std::span<const uint8_t> rec, size_t off) { return off < rec.size() ? rec[off] : 0; }

// A new RSRP or SINR figure: a new sample, or the current one completed
// when it is of the same moment.
void sample(status_cell& c, status_clock::time_point now)
{
    if (c.rsrp_history.empty() || now - c.sample_at > SAMPLE_SPAN) {
        c.sample_at = now;
        push(c.rsrp_history, c.rsrp);
        push(c.sinr_history, c.sinr);
    } else {
        c.rsrp_history.back() = c.rsrp;
        c.sinr_history.back() = c.sinr;
    }
}

// A modem inserted or removed has no connection and is not attached.
void connections_gone(status_device& d)
{
    d.connections.clear();
    if (d.attach == status_attach_state::attached) {
        d.attach = status_attach_state::detached;
        d.attach_since = status_clock::now();
    }
}

}  // namespace

void status_inserted(uint32_t dev, uint8_t boot_image)
{
    update(dev, [&](status_device& d) {
        d.inserted = true;
        d.online = false;
        d.boot_image = boot_image;
        connections_gone(d);
    });
}

void status_removed(uint32_t dev)
{
    update(dev, [&](status_device& d) {
        d.inserted = d.online = false;
        connections_gone(d);
    });
}

void status_online(uint32_t dev, int32_t result)
{
    update(dev, [&](status_device& d) {
        d.online_result = result;
        d.online = result == 0;
    });
}

void status_attach(uint32_t dev, bool attach, uint16_t result, uint16_t cause)
{
    update(dev, [&](status_device& d) {
        (attach ? d.last_attach : d.last_detach) = std::array<uint16_t, 2>{result, cause};
        ++(attach ? d.attaches : d.detaches);
        using enum status_attach_state;
        // A refused detach leaves the state as it was.
        const status_attach_state next = attach   ? (result == 0 ? attached : attach_failed)
                                         : result == 0 ? detached
                                                       : d.attach;
        if (next != d.attach)
            d.attach_since = status_clock::now();
        d.attach = next;
    });
}

void status_interface_up(uint32_t dev, std::span<const uint8_t> nic)
{
    if (byte_at(nic, ifrec::DATA_PATH) != 0)
        return;  // not the daemon's interface: its release is not seen either
    status_connection c;
    c.name = text_at(nic, ifrec::NAME, ifrec::NAME_SIZE);
    constexpr size_t APN_SIZE = ifrec::IPV4_ADDR - ifrec::APN_NAME;
    c.apn = text_at(nic, ifrec::APN_NAME, std::min<size_t>(byte_at(nic, ifrec::APN_LEN), APN_SIZE));
    c.ip_type = byte_at(nic, ifrec::PDN_IP_TYPE);
    c.eps_bearer = load_be16(nic, ifrec::EPS_BEARER);
    c.dhcp = byte_at(nic, ifrec::IP_ALLOC) != 0;
    if (c.ip_type != 1)
        c.ipv4 = address(nic, AF_INET, ifrec::IPV4_ADDR, 4);
    if (c.ip_type != 0 && byte_at(nic, ifrec::IPV6_ERROR) == 0)
        c.ipv6 = address(nic, AF_INET6, ifrec::IPV6_ADDR, 16);
    c.since = status_clock::now();
    update(dev, [&](status_device& d) {
        std::erase_if(d.connections, [&](const status_connection& o) { return o.name == c.name; });
        d.connections.push_back(std::move(c));
    });
}

void status_interface_released(uint32_t dev, std::span<const uint8_t> nic)
{
    const uint16_t bearer = load_be16(nic, ifrec::EPS_BEARER);
    const bool every = bearer == ifrec::BEARER_ALL || bearer == ifrec::BEARER_DEV_REMOVED ||
                       bearer == ifrec::BEARER_DEV_INSERTED;
    update(dev, [&](status_device& d) {
        if (bearer == ifrec::BEARER_ALL || !every)
            ++d.releases;
        std::erase_if(d.connections, [&](const status_connection& c) { return every || c.eps_bearer == bearer; });
    });
}

void status_interface_ipv4(const char* name, const uint8_t* addr)
{
    char buf[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, addr, buf, sizeof buf))
        return;
    const std::lock_guard g(lock);
    for (auto& [dev, d] : devices)
        for (status_connection& c : d.connections)
            if (c.name == name)
                c.ipv4 = buf;
}

void status_dm_ext(uint32_t dev, uint16_t type, std::span<const uint8_t> data)
{
    const auto row = std::ranges::find(FIGURES, type, &figure_row::type);
    if (row == std::end(FIGURES) || data.size() < row->width)
        return;
    uint64_t raw = 0;
    for (size_t i = 0; i < row->width; ++i)
        raw = raw << 8 | data[i];
    int64_t v = static_cast<int64_t>(raw);
    if (row->is_signed && row->width < 8 && (raw >> (8 * row->width - 1)) != 0)
        v -= int64_t{1} << (8 * row->width);
    const bool valid = v >= row->lo && v <= row->hi;
    const auto now = status_clock::now();
    const status_tenths tenths = valid ? status_tenths(static_cast<int32_t>(v * row->tenths)) : std::nullopt;
    const std::optional<int64_t> whole = valid ? std::optional<int64_t>(v) : std::nullopt;
    update(dev, [&](status_device& d) {
        status_cell& c = d.cells[static_cast<size_t>(row->rat)];
        c.seen = true;
        c.at = now;
        switch (row->what) {
        case figure::rsrp: c.rsrp = tenths; break;
        case figure::rsrq: c.rsrq = tenths; break;
        case figure::sinr: c.sinr = tenths; break;
        case figure::pci: c.pci = whole; break;
        case figure::band: c.band = whole; break;
        case figure::cell_id: c.cell_id = whole; break;
        }
        if (row->what == figure::rsrp || row->what == figure::sinr)
            sample(c, now);
    });
}

std::optional<status_device> status_of(uint32_t dev)
{
    const std::lock_guard g(lock);
    const auto it = devices.find(dev);
    if (it == devices.end())
        return std::nullopt;
    return it->second;
}

const char* status_attach_name(status_attach_state s)
{
    constexpr const char* NAMES[] = {"unknown", "attached", "detached", "attach failed"};
    return NAMES[static_cast<size_t>(s)];
}

void status_reset()
{
    const std::lock_guard g(lock);
    devices.clear();
}

}  // namespace cnxd
