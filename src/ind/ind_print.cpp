#include "ind/ind_print.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "server/delivery.h"

namespace cnxd {
namespace {

// Sends text that may hold NUL bytes (a "%c" of byte 0) unchanged.
void send_text(std::string_view text)
{
    while (!text.empty()) {
        const size_t nul = text.find('\0');
        const size_t n = nul == std::string_view::npos ? text.size() : nul;
        if (n)
            cnxd_srv_send_log("%.*s", static_cast<int>(n), text.data());
        if (nul == std::string_view::npos)
            return;
        cnxd_srv_send_log("%c", '\0');
        text.remove_prefix(n + 1);
    }
}

void append(std::string& line, const char* each, uint8_t b)
{
    char cell[8];
    const int n = std::snprintf(cell, sizeof cell, each, b);
    line.append(cell, static_cast<size_t>(n));
}

// Long dumps go out a line at a time; the text is the same as byte by byte.
void dump(const char* label, std::span<const uint8_t> bytes, const char* each)
{
    constexpr size_t LONG_FROM = 17;
    constexpr size_t PER_LINE = 16;
    std::string line;
    if (bytes.size() < LONG_FROM) {
        line = std::string(label) + " : ";
        for (uint8_t b : bytes)
            append(line, each, b);
        send_text(line + "\n");
        return;
    }
    cnxd_srv_send_log("%s\n", label);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0 && i % PER_LINE == 0) {
            send_text(line);
            line = "\n";
        }
        append(line, each, bytes[i]);
    }
    send_text(line + "\n\n");
}

}  // namespace

void print_st(const char* label, std::span<const uint8_t> bytes)
{
    dump(label, bytes, "%02x ");
}

void print_ch(const char* label, std::span<const uint8_t> bytes)
{
    dump(label, bytes, "%c ");
}

}  // namespace cnxd
