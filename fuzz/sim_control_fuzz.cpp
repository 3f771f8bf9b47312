// The simulator's control language: each input line by line through
// ltesim::control, with the simulated SDK open and a handler registered for
// every callback, so injected records and the model's own indications are
// delivered. Property: every reply is empty or whole lines. After each
// input the PDNs, knobs and call record go back to their defaults, so
// inputs stay independent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ltesdk.h"
#include "ltesim.h"
#include "support/check.h"
#include "support/sysroot.h"

namespace {

using cnxd::fuzz::expect;

// The handlers read every byte they are given, so ASan sees a record
// shorter than its length.
volatile uint8_t sink;

void touch(const void* data, size_t len)
{
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < len; ++i)
        sink = p[i];
}

void on_record(uint32_t, void* data, uint32_t len) { touch(data, len); }
void on_ascii(uint32_t, uint16_t, char* text) { touch(text, std::strlen(text)); }
void on_cli(uint32_t, char* text, uint32_t len) { touch(text, len); }

// A handler of another form as it is registered (through the generic
// function pointer type, as the SDK asks).
template <typename Fn>
LAPI_CALLBACK as_registered(Fn fn)
{
    return reinterpret_cast<LAPI_CALLBACK>(reinterpret_cast<void (*)()>(fn));
}

uint32_t handle = 0;

void setup()
{
    static const bool done = [] {
        cnxd::fuzz::fuzz_root();
        expect(LAPI_LTEAPIOpen(&handle) == 0, "simulated SDK open");
        for (uint32_t id = 0; id < LAPI_CB_MAX; ++id) {
            // The SDK calls the other forms' handlers in their own form.
            LAPI_CALLBACK fn = on_record;
            if (id == LAPI_CB_ASCII_FROM_DEVICE)
                fn = as_registered(on_ascii);
            else if (id == LAPI_CB_CLI_CMD_RSP)
                fn = as_registered(on_cli);
            LAPI_RegisterCallbackResponse(handle, id, fn, 0);
        }
        std::atexit([] {
            LAPI_AllCallbackUnRegister(handle);
            LAPI_LTEAPIClose(handle);
        });
        return true;
    }();
    (void)done;
}

void run(std::string_view line)
{
    const std::string reply = ltesim::control(line);
    expect(reply.empty() || reply.back() == '\n', "reply is whole lines");
}

// Back to the defaults of what a line can change that later lines see
// (after every PDN is taken down): the knobs, the call record. Programmed failures and
// answers stay (no line drops an answer), but no control line makes a
// request they would apply to.
constexpr std::string_view RESET[] = {
    "sync",
    "set delay_ms 0",
    "set device_present 1",
    "set boot_image_type 1",
    "set ip_alloc 0",
    "set pdn_type 2",
    "set operator 0",
    "set ps_init_result 0",
    "set online_result 0",
    "set attach_result 0",
    "clear",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setup();
    run("set delay_ms 0");
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        run(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    }
    for (int slot = 0; slot < LAPI_CONN_INFO_MAX; ++slot)
        run("pdn down " + std::to_string(slot));
    for (std::string_view line : RESET)
        run(line);
    return 0;
}
