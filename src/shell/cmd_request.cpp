#include "shell/cmd_request.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "modem/cm_printf.h"
#include "param/param.h"
#include "param/param_read.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

// The parameter file of the row's builder, or nullptr.
const char* builder_file(int builder)
{
    return builder >= 0 && static_cast<size_t>(builder) < make_parameter.size() ? make_parameter[builder].file
                                                                                 : nullptr;
}

// The path buffer of each parameter file, by the file's name.
struct named_param_file {
    std::string_view name;
    const char* path;
};
constexpr named_param_file param_files[] = {
#define PARAM_FILE(buffer, name) {name, buffer},
#include "dm/param_files.def"
#undef PARAM_FILE
};

const char* param_file_named(std::string_view name)
{
    const auto it = std::ranges::find(param_files, name, &named_param_file::name);
    return it == std::end(param_files) ? "" : it->path;
}

void send_line_with(std::string_view line, size_t at, size_t len, const char* file)
{
    std::string text(line);
    text.replace(at, len, file);
    cnxd_srv_send_log("%s", text.c_str());
}

// A usage line: "%s{name}" stands for the file of that name, "%s" for the
// builder's file, or for a composite for each file its request types read
// (the line once per file).
void send_line(std::string_view line, int builder)
{
    const size_t at = line.find("%s");
    if (at == std::string_view::npos) {
        cnxd_srv_send_log("%s", std::string(line).c_str());
        return;
    }
    if (line.substr(at + 2).starts_with('{')) {
        const size_t close = line.find('}', at);
        send_line_with(line, at, close + 1 - at, param_file_named(line.substr(at + 3, close - at - 3)));
        return;
    }
    const bool row = builder >= 0 && static_cast<size_t>(builder) < make_parameter.size();
    const param_composite* c =
        row && !builder_file(builder) ? make_parameter[static_cast<size_t>(builder)].composite : nullptr;
    if (!c) {
        const char* file = builder_file(builder);
        send_line_with(line, at, 2, file ? file : "");
        return;
    }
    std::vector<const char*> sent;
    for (const param_type& t : c->types)
        if (t.file && std::ranges::find(sent, t.file) == sent.end()) {
            sent.push_back(t.file);
            send_line_with(line, at, 2, t.file);
        }
}

}  // namespace

const cmd_entry& cmd_row(const char* word) { return *cmd_find(word); }

void cmd_usage(const cmd_entry& e)
{
    std::string_view rest = e.usage ? e.usage : "";
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const size_t len = end == std::string_view::npos ? rest.size() : end + 1;
        send_line(rest.substr(0, len), e.builder);
        rest.remove_prefix(len);
    }
}

bool cmd_tokens_ok(const cmd_entry& e, int argc)
{
    if (argc >= e.min_tokens && argc <= e.max_tokens)
        return true;
    cmd_usage(e);
    return false;
}

uint32_t cmd_device(const cmd_entry& e, const char* token)
{
    if (valid_check_dev_id(token) != 0) {
        cm_printf(CM_ERR, "[%-25s] Invalid Device ID\n", e.name);
        return 0;
    }
    return static_cast<uint32_t>(std::atoi(token));
}

namespace {

// The handlers whose first argument picks the request type, and with it
// the file: whatever fails, the argument is what the user gave wrong.
constexpr std::string_view composite_handlers[] = {
    "cmd_rrc_capability_control", "cmd_plmn_cfg_set",        "cmd_rrc_function_control",
    "cmd_phy_function_control",   "cmd_phy_function_control_get", "cmd_phy_ta_information",
    "cmd_uicc_control_request",
};

bool is_composite(const cmd_entry& e) { return std::ranges::find(composite_handlers, e.name) != std::end(composite_handlers); }

// Whether the builder's fields come from a parameter file: its own, or the
// files its request types name.
bool file_fed(int builder)
{
    return builder_file(builder) || (builder >= 0 && make_parameter[static_cast<size_t>(builder)].composite);
}

void invalid_parameter(const cmd_entry& e, int builder, cmd_source src = cmd_source::builder)
{
    const bool file = src == cmd_source::builder ? !is_composite(e) && file_fed(builder) : src == cmd_source::file;
    cm_printf(CM_ERR, file ? "[%-25s] Invalid File Parameter\n" : "[%-25s] Invalid Input Parameter\n", e.name);
    cmd_usage(e);
}

}  // namespace

void cmd_invalid_input(const cmd_entry& e) { invalid_parameter(e, CMD_NO_BUILDER); }

int cmd_make(const cmd_entry& e, int builder, std::span<uint8_t> rec, int argc, char** argv)
{
    param_args args;
    make_argument(args, argc, argv);
    const int made = param_make(static_cast<size_t>(builder), rec, {builder_file(builder), &args});
    if (made == 0)
        return 0;
    if (made == PARAM_NOT_YET) {
        cnxd_srv_send_log("Not yet implemetation\n");
        cmd_usage(e);
    } else {
        invalid_parameter(e, builder);
    }
    return -1;
}

int cmd_check(const cmd_entry& e, int builder, std::span<const uint8_t> rec, cmd_source src)
{
    const int check = make_parameter[static_cast<size_t>(builder)].check;
    if (check < 0 || param_check(static_cast<size_t>(check), rec) == 0)
        return 0;
    invalid_parameter(e, builder, src);
    return -1;
}

void cmd_begin(const cmd_entry& e) { cm_printf(CM_TRACE, "[%s+]\n", e.name); }

uint32_t cmd_enter(const cmd_entry& e, int argc, char** argv)
{
    cmd_begin(e);
    return cmd_tokens_ok(e, argc) ? cmd_device(e, argv[1]) : 0;
}

uint8_t cmd_token_byte(int argc, char** argv, int i)
{
    return i < argc ? static_cast<uint8_t>(std::atoi(argv[i])) : 0;
}

void cmd_leave(const cmd_entry& e) { cm_printf(CM_TRACE, "[%s-]\n", e.name); }

namespace {

// A packed number of 1, 2 or 4 bytes, read back.
uint32_t load_be_width(std::span<const uint8_t> field)
{
    uint32_t v = 0;
    for (const uint8_t b : field)
        v = v << 8 | b;
    return v;
}

// The number of token `token` in a field of `p.width` bytes: whether it
// is one and at most `p.max`.
bool take_number(const cmd_packed& p, const char* token, std::span<uint8_t> field)
{
    return add_param_input(0, p.width, field, token) == 0 && load_be_width(field) <= p.max;
}

// The numbers after the device index in the row's widths, packed: 0, or -1
// after the failure message and the usage when one is missing, no number or
// beyond its range.
int pack_arguments(const cmd_entry& e, std::vector<uint8_t>& rec, int argc, char** argv)
{
    size_t off = 0;
    for (size_t i = 0; i < e.packed.size(); ++i) {
        const cmd_packed& p = e.packed[i];
        const int token = static_cast<int>(i) + 2;
        rec.resize(off + p.width);
        if (token >= argc || !take_number(p, argv[token], std::span(rec).subspan(off, p.width))) {
            invalid_parameter(e, CMD_NO_BUILDER);
            return -1;
        }
        off += p.width;
    }
    return 0;
}

}  // namespace

bool cmd_numbers_ok(const cmd_entry& e, int argc, char** argv)
{
    for (size_t i = 0; i < e.packed.size() && static_cast<int>(i) + 2 < argc; ++i) {
        std::array<uint8_t, 4> field{};
        if (!take_number(e.packed[i], argv[i + 2], std::span(field).first(e.packed[i].width))) {
            invalid_parameter(e, CMD_NO_BUILDER);
            return false;
        }
    }
    return true;
}

int cmd_send_request(const cmd_entry& e, int builder, uint32_t dev, int argc, char** argv)
{
    std::vector<uint8_t> rec(builder >= 0 ? make_parameter[static_cast<size_t>(builder)].size : 0);
    if (builder >= 0 && (cmd_make(e, builder, rec, argc, argv) != 0 || cmd_check(e, builder, rec) != 0))
        return -1;
    if (builder < 0 && pack_arguments(e, rec, argc, argv) != 0)
        return -1;
    e.send(dev, rec.empty() ? nullptr : rec.data());
    cmd_leave(e);
    return 0;
}

int cmd_request(int argc, char** argv)
{
    const cmd_entry& e = cmd_row(argv[0]);
    if (const uint32_t dev = cmd_enter(e, argc, argv))
        cmd_send_request(e, e.builder, dev, argc, argv);
    return 0;
}

}  // namespace cnxd
