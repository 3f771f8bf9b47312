#include "shell/cmd_request.h"

#include <cstdlib>
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

void send_line(std::string_view line, const char* file)
{
    std::string text(line);
    if (const size_t at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, file ? file : "");
    cnxd_srv_send_log("%s", text.c_str());
}

}  // namespace

const cmd_entry& cmd_row(const char* word) { return *cmd_find(word); }

void cmd_usage(const cmd_entry& e)
{
    const char* file = builder_file(e.builder);
    std::string_view rest = e.usage ? e.usage : "";
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const size_t len = end == std::string_view::npos ? rest.size() : end + 1;
        send_line(rest.substr(0, len), file);
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

void invalid_parameter(const cmd_entry& e, int builder)
{
    cm_printf(CM_ERR, builder_file(builder) ? "[%-25s] Invalid File Parameter\n" : "[%-25s] Invalid Input Parameter\n",
              e.name);
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

int cmd_check(const cmd_entry& e, int builder, std::span<const uint8_t> rec)
{
    const int check = make_parameter[static_cast<size_t>(builder)].check;
    if (check < 0 || param_check(static_cast<size_t>(check), rec) == 0)
        return 0;
    invalid_parameter(e, builder);
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

// The numbers after the device index in the row's widths, packed: 0, or -1
// after the failure message and the usage.
int pack_arguments(const cmd_entry& e, std::vector<uint8_t>& rec, int argc, char** argv)
{
    size_t off = 0;
    for (size_t i = 0; i < e.packed.size(); ++i) {
        const size_t width = e.packed[i];
        const int token = static_cast<int>(i) + 2;
        rec.resize(off + width);
        if (token >= argc || add_param_input(0, width, std::span(rec).subspan(off), argv[token]) != 0) {
            invalid_parameter(e, CMD_NO_BUILDER);
            return -1;
        }
        off += width;
    }
    return 0;
}

}  // namespace

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
