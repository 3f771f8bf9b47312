// HCI frames between the daemon and its clients, the shared block's layout
// and the subscription map. One frame travels as one datagram: a 4-byte
// big-endian header (id, length of what follows) and the payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "base/be.h"

namespace cnxd {

// ---- Frame ids ---------------------------------------------------------
constexpr uint16_t HCI_API_OPEN = 0x0100;
constexpr uint16_t HCI_API_OPEN_RSP = 0x8101;
constexpr uint16_t HCI_API_CLOSE = 0x0102;
constexpr uint16_t HCI_CLIENT_RELAY = 0x0105;
constexpr uint16_t HCI_API_REQUEST = 0x0106;
constexpr uint16_t HCI_KEEP_ALIVE = 0x0107;
constexpr uint16_t HCI_KEEP_ALIVE_RSP = 0x8108;
constexpr uint16_t HCI_CLI_COMMAND = 0x010A;
constexpr uint16_t HCI_SDK_CALLBACK = 0x8107;
constexpr uint16_t HCI_LOG = 0x810B;
constexpr uint16_t HCI_NOTIFY = 0x0402;

constexpr size_t HCI_HEADER_LEN = 4;
constexpr size_t HCI_MAX_FRAME = 4096;    // receive buffers, header included
constexpr size_t HCI_LOG_MAX_TEXT = 2075;  // text bytes of one HCI_LOG frame

// A received frame. `payload` holds the bytes that really arrived after the
// header, at most `len` of them: the length field is never trusted beyond
// the datagram.
struct HciFrame {
    uint16_t id = 0;
    uint16_t len = 0;
    std::span<const uint8_t> payload;
};

// Decodes a datagram of `n` bytes; nothing when it is shorter than a header.
inline std::optional<HciFrame> hci_decode(std::span<const uint8_t> datagram)
{
    if (datagram.size() < HCI_HEADER_LEN)
        return std::nullopt;
    HciFrame f;
    f.id = load_be16(datagram.data());
    f.len = load_be16(datagram.data() + 2);
    const size_t avail = datagram.size() - HCI_HEADER_LEN;
    f.payload = datagram.subspan(HCI_HEADER_LEN, f.len < avail ? f.len : avail);
    return f;
}

inline void hci_put_header(uint8_t* buf, uint16_t id, uint16_t len)
{
    store_be16(buf, id);
    store_be16(buf + 2, len);
}

// ---- API request payload (HCI_API_REQUEST) -----------------------------
constexpr size_t API_REQ_CMD = 0;     // u16 big-endian command id
constexpr size_t API_REQ_LEN = 2;     // u16 big-endian: index word + data
constexpr size_t API_REQ_DEV = 4;     // u32 in host order
constexpr size_t API_REQ_DATA = 8;

// ---- Shared block of a client ------------------------------------------
// Words the daemon writes into the block (the result word) are big-endian,
// like every field exchanged with clients; the daemon only tests the
// client's words (receive and subscription words) for non-zero.
namespace shm {
constexpr size_t SIZE = 41172;
constexpr size_t RECV_WORD = 0;
constexpr size_t SUB_WORDS = 377;         // subscription words 1..377 at 4*k
constexpr size_t RESULT = 1516;
constexpr size_t INIT_COMPLETE = 1520;    // command 0
constexpr size_t BOOT_IMAGE = 1521;       // command 2
constexpr size_t DEVICE_INFO = 1522;      // command 3
constexpr size_t DEVICE_INFO_EXT = 1552;  // command 4
constexpr size_t NETWORK_INFO = 2326;     // command 5
constexpr size_t DEVICE_LIST = 2354;      // command 6
constexpr size_t CONNECTION_INFO = 36406; // command 7
constexpr size_t GPIO = 41146;            // command 9
constexpr size_t APN_TYPE = 41149;        // commands 15, 16
constexpr size_t DHCP_LEASE_VALID = 41150;// command 19
constexpr size_t DHCP_SERVER = 41151;     // command 338
constexpr size_t IPV6_MTU = 41170;        // command 342

// The answer areas in block order: each one ends where the next begins, the
// last one at the end of the block.
constexpr size_t ANSWER_AREAS[] = {
    INIT_COMPLETE, BOOT_IMAGE, DEVICE_INFO, DEVICE_INFO_EXT, NETWORK_INFO, DEVICE_LIST,
    CONNECTION_INFO, GPIO, APN_TYPE, DHCP_LEASE_VALID, DHCP_SERVER, IPV6_MTU, SIZE,
};

// Bytes of the answer area at `offset`; 0 when no area starts there.
constexpr size_t area_size(size_t offset)
{
    for (size_t i = 0; i + 1 < std::size(ANSWER_AREAS); ++i)
        if (ANSWER_AREAS[i] == offset)
            return ANSWER_AREAS[i + 1] - offset;
    return 0;
}
}  // namespace shm

// Semaphores of a client's set.
constexpr int SEM_BUSY = 0;
constexpr int SEM_DONE = 1;

// ---- Subscription map: SDK event id -> subscription word ----------------
struct SubscriptionRow {
    uint16_t event;
    uint16_t word;
};

constexpr SubscriptionRow subscription_tbl[] = {
    {22, 1}, {24, 3}, {26, 5}, {28, 7}, {30, 9}, {31, 11}, {33, 13}, {35, 15}, {37, 17}, {38, 295},
    {39, 297}, {41, 19}, {43, 21}, {45, 23}, {47, 25}, {49, 27}, {50, 29}, {52, 31}, {56, 35},
    {58, 37}, {59, 191}, {61, 39}, {64, 41}, {68, 45}, {70, 47}, {72, 49}, {75, 51}, {77, 53},
    {79, 55}, {81, 57}, {83, 59}, {85, 61}, {87, 63}, {89, 65}, {91, 67}, {93, 335}, {95, 69},
    {97, 71}, {98, 73}, {100, 75}, {102, 77}, {104, 79}, {106, 81}, {108, 83}, {110, 85},
    {112, 87}, {114, 89}, {115, 95}, {116, 97}, {117, 99}, {118, 101}, {119, 103}, {120, 105},
    {121, 107}, {122, 109}, {123, 111}, {124, 113}, {125, 115}, {126, 117}, {127, 119},
    {128, 121}, {129, 123}, {130, 323}, {131, 351}, {132, 353}, {133, 357}, {134, 369},
    {136, 125}, {138, 127}, {140, 129}, {142, 131}, {144, 133}, {146, 135}, {152, 141},
    {154, 143}, {158, 147}, {159, 149}, {161, 151}, {162, 153}, {163, 155}, {164, 157},
    {165, 159}, {166, 161}, {167, 163}, {168, 165}, {170, 167}, {172, 169}, {179, 175},
    {180, 177}, {182, 179}, {184, 181}, {186, 183}, {188, 185}, {190, 313}, {192, 187},
    {194, 189}, {196, 193}, {198, 195}, {200, 197}, {202, 199}, {204, 201}, {205, 203},
    {206, 205}, {207, 207}, {208, 209}, {209, 211}, {210, 213}, {211, 215}, {213, 217},
    {214, 219}, {216, 221}, {225, 223}, {226, 225}, {227, 227}, {228, 229}, {230, 231},
    {232, 235}, {234, 237}, {236, 239}, {238, 241}, {240, 243}, {243, 245}, {245, 233},
    {246, 249}, {247, 309}, {249, 251}, {250, 253}, {255, 263}, {256, 265}, {260, 269},
    {261, 271}, {262, 273}, {264, 377}, {266, 247}, {269, 267}, {271, 275}, {273, 91},
    {275, 93}, {277, 277}, {278, 279}, {280, 281}, {282, 283}, {283, 285}, {287, 287},
    {289, 289}, {292, 291}, {293, 293}, {295, 299}, {297, 301}, {299, 303}, {301, 305},
    {304, 307}, {311, 317}, {313, 315}, {316, 321}, {319, 325}, {320, 327}, {322, 329},
    {325, 331}, {327, 333}, {330, 337}, {332, 339}, {334, 341}, {336, 343}, {339, 345},
    {341, 349}, {345, 359}, {348, 355}, {353, 361}, {355, 363}, {356, 365}, {357, 367},
    {359, 371}, {362, 375},
};

constexpr bool subscription_tbl_is_sorted()
{
    for (size_t i = 1; i < std::size(subscription_tbl); ++i)
        if (subscription_tbl[i - 1].event >= subscription_tbl[i].event)
            return false;
    return true;
}
static_assert(subscription_tbl_is_sorted(), "subscription map must be sorted by event, no repeats");

// Word number k (1..377) for an SDK event, or 0 when the event is never
// forwarded.
constexpr unsigned subscription_word(unsigned event)
{
    size_t lo = 0;
    size_t hi = std::size(subscription_tbl);
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (subscription_tbl[mid].event < event)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < std::size(subscription_tbl) && subscription_tbl[lo].event == event
               ? subscription_tbl[lo].word
               : 0;
}

}  // namespace cnxd
