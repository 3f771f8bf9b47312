// Big-endian wire fields. Every multi-byte field that crosses a socket, the
// SDK boundary or a shared block is read and written through these helpers,
// never by casting a struct over a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cnxd {

constexpr uint16_t load_be16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

constexpr uint32_t load_be32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

constexpr void store_be16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

constexpr void store_be32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Span forms: read a field at `off` only when it lies inside `buf`;
// otherwise the result is 0, as if the missing bytes had been zero.
constexpr uint16_t load_be16(std::span<const uint8_t> buf, size_t off)
{
    return off + 2 <= buf.size() ? load_be16(buf.data() + off) : 0;
}

constexpr uint32_t load_be32(std::span<const uint8_t> buf, size_t off)
{
    return off + 4 <= buf.size() ? load_be32(buf.data() + off) : 0;
}

}  // namespace cnxd
