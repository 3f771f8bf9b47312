// Hexadecimal digits in text.
#pragma once

namespace cnxd {

// The value of the hex digit `c` (either case), or -1 when it is none.
constexpr int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace cnxd
