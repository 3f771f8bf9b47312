#include "param/param_read.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/be.h"
#include "base/fd.h"
#include "base/hex.h"
#include "base/path.h"
#include "modem/cm_printf.h"

namespace cnxd {
namespace {

// The "[name+]" / "[name-]" lines around a reader.
class trace {
public:
    explicit trace(const char* fn) : fn_(fn) { cm_printf(CM_TRACE, "[%s+]\n", fn_); }
    ~trace() { cm_printf(CM_TRACE, "[%s-]\n", fn_); }
    trace(const trace&) = delete;
    trace& operator=(const trace&) = delete;

private:
    const char* fn_;
};

// Reads the file's lines in pieces of at most PARAM_LINE_MAX characters,
// calling `on_line` with each piece that begins a line; stops early when it
// returns true, else returns false at the end of the file. A piece's end is
// counted, not found with strlen, so a NUL byte inside a line does not make
// the next line a continuation.
template <typename F>
bool for_each_line(FILE* f, F&& on_line)
{
    char line[PARAM_LINE_MAX + 1];
    bool at_start = true;
    for (;;) {
        size_t n = 0;
        for (int c; n < PARAM_LINE_MAX && (c = std::getc(f)) != EOF;) {
            line[n++] = static_cast<char>(c);
            if (c == '\n')
                break;
        }
        if (n == 0)
            return false;
        line[n] = '\0';
        const bool starts = at_start;
        at_start = line[n - 1] == '\n';
        if (starts && on_line(line))
            return true;
    }
}

unique_file open_param(const char* fn, const char* path)
{
    unique_file f(std::fopen(cnxd_sysroot_path(path).c_str(), "r"));
    if (!f)
        cm_printf(CM_ERR, "[%-25s] %s open fail\n", fn, path);
    return f;
}

// The value of the first line of `path` that begins with `tag`, copied into
// `buf`: 1 found, 0 no such line, -1 the file cannot be opened.
int tag_value(const char* fn, const char* path, const char* tag, char (&buf)[PARAM_LINE_MAX + 1],
              std::string_view& value)
{
    unique_file f = open_param(fn, path);
    if (!f)
        return -1;
    const size_t tag_len = std::strlen(tag);
    const bool found = for_each_line(f.get(), [&](char* line) {
        if (std::strncmp(line, tag, tag_len) != 0)
            return false;
        std::memcpy(buf, line, sizeof buf);
        value = find_start_end(buf);
        return true;
    });
    return found ? 1 : 0;
}

bool all_digits(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// atoi on the 32-bit target for digit strings of at most 10 characters:
// a value above INT32_MAX saturates there (strtol's overflow), so that a
// ten-digit value never wraps back into a range the checks accept.
int32_t atoi32(std::string_view digits)
{
    uint64_t v = 0;
    for (char c : digits)
        v = std::min<uint64_t>(v * 10 + static_cast<uint64_t>(c - '0'), INT32_MAX);
    return static_cast<int32_t>(v);
}

bool valid_width(size_t width) { return width == 1 || width == 2 || width == 4 || width == 8; }

// The low `width` bytes of `v`, big-endian; width 8 takes the 32-bit value
// sign-extended.
void store_width(uint8_t* p, size_t width, int32_t v)
{
    const auto u = static_cast<uint32_t>(v);
    switch (width) {
    case 1:
        p[0] = static_cast<uint8_t>(u);
        break;
    case 2:
        store_be16(p, static_cast<uint16_t>(u));
        break;
    case 4:
        store_be32(p, u);
        break;
    default:
        store_be32(p, v < 0 ? 0xFFFFFFFFu : 0u);
        store_be32(p + 4, u);
        break;
    }
}

bool unsigned_in_range(int32_t v, size_t width)
{
    const auto u = static_cast<uint32_t>(v);
    return (width != 1 || u <= 0xFF) && (width != 2 || u <= 0xFFFF);
}

// A decimal value as add_param_file (sign 0) or add_signed_param_file
// (sign 1) takes it; false when it does not pass.
bool decimal_value(std::string_view text, int sign, size_t width, int32_t& out)
{
    if (text.empty() || text.size() > 10)
        return false;
    const bool negative = sign && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (!all_digits(text))
        return false;
    const int32_t v = atoi32(text);
    if (!sign && !unsigned_in_range(v, width))
        return false;
    out = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v;
    return true;
}

// The hex digits after the first two characters of `text`; false (after
// "Invalid Hex Data") on a character that is not one.
bool hex_value(const char* fn, std::string_view text, uint32_t& out)
{
    uint32_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        const int d = hex_digit(text[i]);
        if (d < 0) {
            cm_printf(CM_ERR, "[%-25s] Invalid Hex Data\n", fn);
            return false;
        }
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    out = v;
    return true;
}

constexpr size_t hex_len_max(size_t width) { return width == 1 ? 4 : width == 2 ? 6 : 10; }

enum class list_kind { dec, hex, bits };

// The common walk of the three list readers.
int read_list(const char* fn, list_kind kind, const char* path, const char* tag, size_t width, char sep,
              size_t max, std::span<uint8_t> dest)
{
    const trace t(fn);
    if (width != 1 && width != 2 && width != 4) {
        cm_printf(CM_ERR, "[%-25s] Unknown Parameter Type\n", fn);
        return -1;
    }
    char buf[PARAM_LINE_MAX + 1];
    std::string_view value;
    if (tag_value(fn, path, tag, buf, value) != 1)
        return -1;
    if (value.empty() && max == 0)
        return 0;
    const size_t bit_bytes = max / 8;
    if (kind == list_kind::bits && bit_bytes > dest.size())
        return -1;
    size_t count = 0;
    uint8_t bits = 0;
    size_t pos = 0;
    while (pos <= value.size()) {
        const size_t stop = std::min(value.find(sep, pos), value.size());
        const std::string_view elem = value.substr(pos, stop - pos);
        if (elem.empty())
            return stop < value.size() ? static_cast<int>(count) : -1;
        if (elem.size() > 10)
            return -1;
        uint32_t v = 0;
        if (kind == list_kind::hex) {
            if (!hex_value(fn, elem, v) || !unsigned_in_range(static_cast<int32_t>(v), width))
                return -1;
        } else {
            int32_t d = 0;
            if (!decimal_value(elem, 0, width, d) || (kind == list_kind::bits && d > 1))
                return -1;
            v = static_cast<uint32_t>(d);
        }
        if (count == max) {
            cm_printf(CM_ERR, kind == list_kind::hex ? "[%-25s] too many argument\n" : "[%-25s] too manu_argument\n",
                      fn);
            return -1;
        }
        if (kind == list_kind::bits) {
            bits = static_cast<uint8_t>(bits | (v << (count % 8)));
            if (count % 8 == 7) {
                dest[bit_bytes - 1 - count / 8] = bits;
                bits = 0;
            }
        } else {
            if ((count + 1) * width > dest.size())
                return -1;
            store_width(dest.data() + count * width, width, static_cast<int32_t>(v));
        }
        ++count;
        pos = stop + 1;
    }
    return static_cast<int>(count);
}

}  // namespace

std::string_view find_start_end(char* line)
{
    size_t start = 0;
    size_t i = 0;
    for (; i <= PARAM_LINE_MAX && line[i] != '\0'; ++i) {
        if (line[i] == '=') {
            start = i + 1;
        } else if (line[i] == '\r' || line[i] == '\n') {
            line[i] = '\0';
            break;
        }
    }
    return {line + start, i - start};
}

namespace {

// The decimal readers: the value of `tag`, unsigned or signed, into `width`
// bytes of `dest`; messages name the reader `who`.
int add_decimal(const char* who, const char* path, const char* tag, size_t width, std::span<uint8_t> dest,
                int is_signed)
{
    const trace t(who);
    char buf[PARAM_LINE_MAX + 1];
    std::string_view value;
    int32_t v = 0;
    if (!valid_width(width) || width > dest.size() || tag_value(who, path, tag, buf, value) != 1 ||
        !decimal_value(value, is_signed, width, v))
        return -1;
    store_width(dest.data(), width, v);
    return 0;
}

}  // namespace

int add_param_file(const char* path, const char* tag, size_t width, std::span<uint8_t> dest)
{
    return add_decimal(__func__, path, tag, width, dest, 0);
}

int add_signed_param_file(const char* path, const char* tag, size_t width, std::span<uint8_t> dest)
{
    return add_decimal(__func__, path, tag, width, dest, 1);
}

int add_hexparam_file(const char* path, const char* tag, size_t width, std::span<uint8_t> dest)
{
    const trace t(__func__);
    if ((width != 1 && width != 2 && width != 4) || width > dest.size())
        return -1;
    char buf[PARAM_LINE_MAX + 1];
    std::string_view value;
    const int found = tag_value(__func__, path, tag, buf, value);
    if (found <= 0)
        return found;
    if (value.empty())
        return -1;
    if (value.size() > hex_len_max(width))
        return 0;
    uint32_t v = 0;
    if (!hex_value(__func__, value, v))
        return -1;
    store_width(dest.data(), width, static_cast<int32_t>(v));
    return 0;
}

int add_param_st_file(const char* path, const char* tag, std::span<uint8_t> dest, size_t max)
{
    const trace t(__func__);
    char buf[PARAM_LINE_MAX + 1];
    std::string_view value;
    const int found = tag_value(__func__, path, tag, buf, value);
    if (found <= 0)
        return found;
    if (value.size() > max || value.size() > dest.size())
        return -1;
    std::copy(value.begin(), value.end(), dest.begin());
    return 0;
}

int add_separate_param_file(const char* path, const char* tag, size_t width, char sep, size_t max,
                            std::span<uint8_t> dest)
{
    return read_list(__func__, list_kind::dec, path, tag, width, sep, max, dest);
}

int add_separate_hexparam_file(const char* path, const char* tag, size_t width, char sep, size_t max,
                               std::span<uint8_t> dest)
{
    return read_list(__func__, list_kind::hex, path, tag, width, sep, max, dest);
}

int add_bit_param_file(const char* path, const char* tag, size_t width, char sep, size_t max,
                       std::span<uint8_t> dest)
{
    return read_list(__func__, list_kind::bits, path, tag, width, sep, max, dest);
}

int check_exist_param(const char* path, const char* tag)
{
    const trace t(__func__);
    char buf[PARAM_LINE_MAX + 1];
    std::string_view value;
    return tag_value(__func__, path, tag, buf, value);
}

int multiSetTagParser(FILE* fp, std::span<const multi_set_slot> tags, std::span<multi_set_slot> values,
                      size_t count)
{
    const trace t(__func__);
    if (count == 0 || count > MULTI_SET_MAX || count > tags.size() || count > values.size())
        return -1;
    uint32_t pending = 0;
    for (size_t i = 0; i < count; ++i) {
        values[i].fill('\0');
        pending |= 1u << i;
    }
    int result = -1;
    for_each_line(fp, [&](char* line) {
        if (line[0] == '#')
            return false;
        for (size_t i = 0; i < count; ++i) {
            const size_t tag_len = strnlen(tags[i].data(), MULTI_SET_SLOT);
            if (std::strncmp(line, tags[i].data(), tag_len) != 0)
                continue;
            const char* eq = std::strchr(line, '=');
            if (!eq) {
                cm_printf(CM_ERR, "[%-25s] syntax Error, Keep \"[TAG_NAME]=\"\n", "multiSetTagParser");
                result = MULTI_SET_ERROR;
                return true;
            }
            size_t n = 0;
            for (const char* p = eq + 1; *p && n < MULTI_SET_SLOT - 1; ++p)
                if (*p != '\r' && *p != '\n')
                    values[i][n++] = *p;
            pending ^= 1u << i;
            if (i == count - 1) {
                result = pending == 0 ? 0 : MULTI_SET_ERROR;
                return true;
            }
        }
        return false;
    });
    return result;
}

int add_param_input(int sign, size_t width, std::span<uint8_t> dest, const char* text)
{
    int32_t v = 0;
    if (!text || !valid_width(width) || width > dest.size() || !decimal_value(text, sign, width, v))
        return -1;
    store_width(dest.data(), width, v);
    return 0;
}

int add_param_st_input(std::span<uint8_t> dest, const char* text, size_t max)
{
    if (!text)
        return -1;
    const std::string_view s(text);
    if (s.size() > max || s.size() > dest.size())
        return -1;
    std::copy(s.begin(), s.end(), dest.begin());
    return 0;
}

void make_argument(param_args& block, int argc, const char* const* argv)
{
    block.count = std::max(argc - 2, 0);
    block.arg = block.count > 0 ? argv + 2 : nullptr;
}

int string_check(const char* text, size_t len) { return all_digits({text, len}) ? 0 : -1; }

int type_valid_check(const char* text, int sign, size_t width)
{
    const std::string_view s(text);
    return sign || unsigned_in_range(atoi32(s.substr(0, std::min<size_t>(s.size(), 10))), width) ? 0 : -1;
}

int signed_type_valid_check(const char*, size_t) { return 0; }

int valid_check_dev_id(const char* text)
{
    const std::string_view s(text);
    if (s.size() > 10 || !all_digits(s))
        return -1;
    const int32_t v = atoi32(s);
    return v >= 1 && v <= 128 ? 0 : -1;
}

int valid_check_bearer_mode(const char* text)
{
    const std::string_view s(text);
    if (s.size() > 10 || !all_digits(s))
        return -1;
    return (atoi32(s) & 0xFF) <= 2 ? 0 : -1;
}

int get_mac_address(const char* text, std::span<uint8_t, 6> out)
{
    std::array<uint8_t, 6> mac{};
    size_t n = 0;
    uint8_t byte = 0;
    for (size_t i = 0;; ++i) {
        const char c = text[i];
        if ((i == 2 || i == 5 || i == 8 || i == 11) && c != '-')
            return -1;
        if (c == '-' || c == '\0') {
            if (n == mac.size())
                return -1;
            mac[n++] = byte;
            byte = 0;
            if (c == '\0') {
                if (n != mac.size())
                    return -1;
                std::copy(mac.begin(), mac.end(), out.begin());
                return 0;
            }
            continue;
        }
        const int d = hex_digit(c);
        if (d < 0) {
            cm_printf(CM_ERR, "[%-25s] Unknown Mac Address\n", __func__);
            return -1;
        }
        byte = static_cast<uint8_t>((byte << 4) | d);
    }
}

bool is_valid_imei(std::span<uint8_t, 15> digits, size_t len)
{
    int sum = 0;
    for (size_t i = 0; i < 14; ++i) {
        const int d = i % 2 ? digits[i] * 2 : digits[i];
        sum += d / 10 + d % 10;
    }
    const auto check = static_cast<uint8_t>((10 - sum % 10) % 10);
    if (len == 15)
        return digits[14] == check;
    digits[14] = check;
    return true;
}

int get_imei(const char* text, size_t len, std::span<uint8_t, 15> digits)
{
    if (len > digits.size())
        return -1;
    for (size_t i = 0; i < len; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        digits[i] = static_cast<uint8_t>(text[i] - '0');
    }
    return 0;
}

}  // namespace cnxd
