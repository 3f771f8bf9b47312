// The common shape of the commands that send one modem request: entry
// trace, token count, device index, the record built by the row's builder
// and tested by its check, the wrapper, exit trace. Every part comes from
// the command's row of the command table; the hand-written handlers use the
// same pieces.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "shell/cmd_table.h"

namespace cnxd {

// The handler of every row of the common shape: finds its row by the word
// (token 0) and runs it.
int cmd_request(int argc, char** argv);

// The row's usage, line by line through the client log channel, with the
// builder's parameter file in place of "%s".
void cmd_usage(const cmd_entry& e);

// Whether the token count lies in the row's range; prints the usage when
// not.
bool cmd_tokens_ok(const cmd_entry& e, int argc);

// valid_check_dev_id on token 1: the device index, or 0 after printing
// "Invalid Device ID" with the row's name.
uint32_t cmd_device(const cmd_entry& e, const char* token);

// Builder `builder` on `rec` (the tokens after the device index as
// arguments, the builder's file as source): 0, or -1 after the failure
// message ("Not yet implemetation" for a request type not built yet) and
// the usage.
int cmd_make(const cmd_entry& e, int builder, std::span<uint8_t> rec, int argc, char** argv);
// "Invalid Input Parameter" with the row's name, then the usage: an
// argument the handler itself refuses.
void cmd_invalid_input(const cmd_entry& e);
// Where the fields a check refuses came from, for the failure text: as
// the builder reads them, or all from the arguments or all from the file
// (a handler whose file decides which).
enum class cmd_source : uint8_t { builder, arguments, file };
// The check that the builder's row names (none: 0) on `rec`: 0, or -1
// after the failure message for `src` and the usage.
int cmd_check(const cmd_entry& e, int builder, std::span<const uint8_t> rec, cmd_source src = cmd_source::builder);

// The record of `builder` (CMD_NO_BUILDER: the row's packed numbers, or
// none) from the line, handed to the row's wrapper for `dev`, then the exit
// trace: 0, or -1 after the failure message and the usage.
int cmd_send_request(const cmd_entry& e, int builder, uint32_t dev, int argc, char** argv);

// The first steps of every request handler: the entry trace, the token
// count and the device index. The device index, or 0 when the handler is to
// return (the usage or the device message printed).
uint32_t cmd_enter(const cmd_entry& e, int argc, char** argv);
// The entry and exit traces.
void cmd_begin(const cmd_entry& e);
void cmd_leave(const cmd_entry& e);

// Token `i` as atoi reads it, taken modulo 256; 0 when the line has none.
uint8_t cmd_token_byte(int argc, char** argv, int i);
// The numbers given after the device index against the row's packed
// widths and maxima (a handler that reads them itself; a missing one is
// not checked): true, or false after "Invalid Input Parameter" and the
// usage.
bool cmd_numbers_ok(const cmd_entry& e, int argc, char** argv);

// The row of `word`, which the handler's own table row guarantees.
const cmd_entry& cmd_row(const char* word);

// Wrappers of the two forms as the table's send column: a request record,
// or the device alone. Their results are not acted on.
template <auto Wrapper>
void send_req(uint32_t dev_idx, void* req)
{
    static_cast<void>(Wrapper(dev_idx, req));
}
// A wrapper that also takes an output area of `Out` bytes (not printed).
template <auto Wrapper, size_t Out>
void send_req_out(uint32_t dev_idx, void* req)
{
    std::array<uint8_t, Out> out{};
    static_cast<void>(Wrapper(dev_idx, req, out.data()));
}
template <auto Wrapper>
void send_dev(uint32_t dev_idx, void* /*req*/)
{
    static_cast<void>(Wrapper(dev_idx));
}

}  // namespace cnxd
