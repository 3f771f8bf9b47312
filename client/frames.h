// What the client side reads from the daemon: strict frame decoding (a
// frame whose lengths do not match what arrived is rejected, never read
// past), and where each API command leaves its answer in the shared block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "server/hci.h"

namespace cnxd::client {

// A datagram holding a whole frame: at least a header, and at least as many
// payload bytes as the header announces. Bytes past the announced length
// are ignored (the keep-alive probe is padded to 8 bytes).
inline std::optional<HciFrame> decode_frame(std::span<const uint8_t> datagram)
{
    if (datagram.size() < HCI_HEADER_LEN)
        return std::nullopt;
    const uint16_t len = load_be16(datagram.data() + 2);
    if (datagram.size() - HCI_HEADER_LEN < len)
        return std::nullopt;
    return HciFrame{load_be16(datagram.data()), len, datagram.subspan(HCI_HEADER_LEN, len)};
}

struct SdkEvent {
    uint16_t event;
    std::span<const uint8_t> data;  // starts with the device index word
};

// HCI_SDK_CALLBACK payload: event id, data length, data; the frame length
// must be the data length + 4.
inline std::optional<SdkEvent> parse_sdk_callback(const HciFrame& f)
{
    if (f.payload.size() < 4 || load_be16(f.payload, 2) + 4u != f.payload.size())
        return std::nullopt;
    return SdkEvent{load_be16(f.payload, 0), f.payload.subspan(4)};
}

struct Notification {
    uint32_t word;
    uint16_t code;
    std::span<const uint8_t> data;
};

// HCI_NOTIFY payload: a word, the code, data length, data; the frame
// length must be the data length + 8.
inline std::optional<Notification> parse_notify(const HciFrame& f)
{
    if (f.payload.size() < 8 || load_be16(f.payload, 6) + 8u != f.payload.size())
        return std::nullopt;
    return Notification{load_be32(f.payload, 0), load_be16(f.payload, 4), f.payload.subspan(8)};
}

// HCI_LOG: the text, at most 2075 bytes.
inline std::optional<std::string_view> parse_log(const HciFrame& f)
{
    if (f.payload.size() > HCI_LOG_MAX_TEXT)
        return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(f.payload.data()), f.payload.size());
}

// ---- Answer areas of the read commands -----------------------------------
struct AnswerArea {
    uint16_t cmd;
    size_t offset;
    size_t size;  // up to the next area of the block
};

// The area column of the daemon's command table.
#define API_SDK(id, form, fn, ...) __VA_OPT__({id, __VA_ARGS__, shm::area_size(__VA_ARGS__)},)
#define API_LOCAL(id, fn, ...) __VA_OPT__({id, __VA_ARGS__, shm::area_size(__VA_ARGS__)},)
constexpr AnswerArea answer_area_tbl[] = {
#include "api/api_cmd.def"
};

constexpr std::optional<AnswerArea> answer_area(uint16_t cmd)
{
    for (const AnswerArea& a : answer_area_tbl)
        if (a.cmd == cmd)
            return a;
    return std::nullopt;
}

}  // namespace cnxd::client
