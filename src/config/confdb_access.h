// Reading the platform configuration store. The daemon never parses the
// store: for every read it has the store tool dump one node into a fresh
// temporary file under /var/tmp (a configuration dump), reads the wanted
// keys from it with the store library's INI reader, and removes it again.
// Writes are "confdb set" command lines run by their users.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cnxd {

// Every value is read into a zeroed buffer of this size, at most
// CONFDB_VALUE_LIMIT characters.
constexpr size_t CONFDB_VALUE_SIZE = 320;
constexpr int CONFDB_VALUE_LIMIT = 319;
using confdb_value = std::array<char, CONFDB_VALUE_SIZE>;

// Operator codes of the store ("ltenv info" / operator, hexadecimal text).
constexpr int OPERATOR_VZW = 2;      // Verizon tables
constexpr int OPERATOR_SMS_ANY = 3;  // SMS type 1 on any network
constexpr int OPERATOR_SPRINT = 7;   // Sprint tables
constexpr int OPERATOR_ATT = 14;     // AT&T tables

// The store's operator code: read at device insert, 0 after removal.
// Atomic: written on the SDK callback thread, read on every other.
extern std::atomic<int32_t> g_operator;

// The SMS configuration type last chosen (0 or 1), SMS_CONF_TYPE_UNSET
// before the first choice and after device removal.
constexpr int SMS_CONF_TYPE_UNSET = 15;
extern std::atomic<int> gSmsConfType;

// One configuration dump: the constructor runs
// "confdb get <get_args> > /var/tmp/<prefix>_<n>" and the destructor removes
// the file, so it is gone on every path out of a read. The tool's exit
// status is not looked at: a failed dump is an empty or missing file, from
// which every read gives its default.
//
// Naming: <n> is the next value of a process-wide atomic counter (seeded
// from the pid and the clock, printed in decimal), and the file is created
// with O_EXCL before the tool writes into it, skipping to the next number
// when a name is taken. So reads made at the same time, by several threads
// or processes, never share a file (rand() would give no such guarantee and
// is not thread safe).
class ConfdbDump {
public:
    ConfdbDump(std::string_view prefix, std::string_view get_args);
    ~ConfdbDump();
    ConfdbDump(const ConfdbDump&) = delete;
    ConfdbDump& operator=(const ConfdbDump&) = delete;

    // The dump's path in router form ("/var/tmp/..."); empty when no file
    // could be created.
    const std::string& file() const { return file_; }

    // Zeroes `out` and reads `key` of `section` ("" for a flat node or a
    // single key) with default `dflt` and the usual limit. Returns the
    // length of the text in `out`.
    size_t read(const char* section, const char* key, const char* dflt,
                std::span<char, CONFDB_VALUE_SIZE> out) const;
    // A number with default "0"; an empty value counts as "0".
    long read_number(const char* section, const char* key, int base = 10) const;

private:
    std::string file_;
};

// Reads `key` of `section` from the dump file `file` (router form; empty:
// no file) into `out`, zeroed first, with default `dflt` and the usual
// limit. Returns the length of the text in `out`.
size_t confdb_read_dump(const std::string& file, const char* section, const char* key,
                        const char* dflt, std::span<char, CONFDB_VALUE_SIZE> out);

// Creates a new, empty, uniquely named dump file "/var/tmp/<prefix>_<n>"
// (see above) and returns its router path, or "" on failure.
std::string confdb_new_dump_file(std::string_view prefix);

// Single-key read of `key` in node `node` into the caller's buffer. Returns
// the length of the value: a key the store does not hold reads as the
// default "0" (length 1); 0 means present but empty, and the caller puts
// its own default in.
int CNXD_GetConfdbValue(const char* node, const char* key, std::span<char, CONFDB_VALUE_SIZE> out);

// The store's operator code (hexadecimal text; 0 when empty or missing).
int CNXD_GetOperator();

// The IMS switch, "config wan lte ims" / ENABLE: 1 means IMS enabled.
int CNXD_GetImsEnable();

// Chooses the SMS configuration type from the first two (BCD) bytes of a
// PLMN. Returns 0 (no change), 1 (gSmsConfType changed) or 2 (changed to 0
// and SMS over IP networks must be switched off).
int CNXD_SelectSmsConfType(std::span<const uint8_t> plmn);

}  // namespace cnxd
