// An indication record as the SDK hands it to the daemon's handlers: the
// first byte picks a row of the callback table, the second the device
// index, the rest is the record, in a heap block of exactly its size (the
// text forms get the terminating NUL the SDK puts after their text). No
// client is connected, so the forwards go nowhere; what is under test is
// that no handler reads past what it was given. Before the first input,
// every row gets records cut short of its size and records past it (all
// zeros and all ones), with each operator's tables, so every id is covered
// whatever the corpus.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/be.h"
#include "config/confdb_access.h"
#include "ind/ind.h"
#include "lapi_size.h"
#include "modem/online_request.h"
#include "support/sysroot.h"

namespace {

constexpr uint16_t HOST_DBG_CLI_CMD_ID = 189;

// Some bodies read the configuration store, which runs its tool through
// the shell: in the fuzz sysroot it finds none. An initialisation answer
// starts an online request thread, which the daemon joins at shutdown: so
// does the fuzzer at its exit.
void no_programs()
{
    static const bool done = [] {
        cnxd::fuzz::fuzz_root();
        std::atexit(cnxd::online_requests_stop);
        return true;
    }();
    (void)done;
}

// The record in a block of exactly `bytes.size() + extra` bytes, the extra
// ones zero.
std::unique_ptr<uint8_t[]> exact_copy(std::span<const uint8_t> bytes, size_t extra)
{
    auto block = std::make_unique<uint8_t[]>(bytes.size() + extra);
    std::copy(bytes.begin(), bytes.end(), block.get());
    std::fill_n(block.get() + bytes.size(), extra, uint8_t{0});
    return block;
}

void call(const cnxd::ind_row& row, uint32_t dev, std::span<const uint8_t> record)
{
    const auto len = static_cast<uint32_t>(record.size());
    std::visit(
        [&](auto fn) {
            using F = decltype(fn);
            if constexpr (std::is_same_v<F, LAPI_CALLBACK>) {
                // An empty record also arrives as a null pointer.
                auto block = record.empty() ? nullptr : exact_copy(record, 0);
                fn(dev, block.get(), len);
            } else if constexpr (std::is_same_v<F, LAPI_ASCII_CALLBACK>) {
                // A 16-bit message type, then the text.
                const uint16_t type = record.size() >= 2 ? cnxd::load_be16(record, 0) : 0;
                const auto text = record.subspan(std::min<size_t>(record.size(), 2));
                auto block = exact_copy(text, 1);
                fn(dev, type, reinterpret_cast<char*>(block.get()));
            } else {
                auto block = exact_copy(record, 1);
                fn(0, reinterpret_cast<char*>(block.get()), len);
            }
        },
        row.handler);
}

// The record sizes every row is tried with: empty, one byte, and around
// the SDK's size of the record (for records of no fixed size, around a
// head and a frame's worth).
std::vector<size_t> sweep_sizes(uint16_t cb_id)
{
    const int32_t sdk = lapi_cb_record_size(cb_id);
    const size_t n = sdk > 0 ? static_cast<size_t>(sdk) : 16;
    std::vector<size_t> sizes{0, 1, n / 2, n - 1, n, n + 1, n + 4096};
    if (sdk <= 0)
        sizes.push_back(cnxd::IND_FWD_ROOM + 64);
    return sizes;
}

void sweep_every_row()
{
    for (const cnxd::ind_row& row : cnxd::ind_callback_tbl) {
        if (row.cb_id == HOST_DBG_CLI_CMD_ID)
            continue;
        for (const size_t size : sweep_sizes(row.cb_id))
            for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xff}}) {
                const std::vector<uint8_t> record(size, fill);
                call(row, 1, record);
            }
    }
}

// The sweep once more for each operator whose tables some bodies follow.
void sweep_every_operator()
{
    for (const int op : {0, cnxd::OPERATOR_VZW, cnxd::OPERATOR_SPRINT, cnxd::OPERATOR_ATT}) {
        cnxd::g_operator = op;
        sweep_every_row();
    }
    cnxd::g_operator = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    no_programs();
    static const bool swept = (sweep_every_operator(), true);
    (void)swept;
    if (size < 2)
        return 0;
    const auto& table = cnxd::ind_callback_tbl;
    const cnxd::ind_row& row = table[data[0] % table.size()];
    // The modem's host-debug lines are command lines: the command-line
    // target takes them, and here they would run commands and jobs.
    if (row.cb_id == HOST_DBG_CLI_CMD_ID)
        return 0;
    // Indices past the device tables included: the handlers check them.
    const uint32_t dev = data[1];
    call(row, dev, std::span<const uint8_t>(data + 2, size - 2));
    return 0;
}
