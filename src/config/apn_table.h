// APN names, APN types and PDN labels. The store's APN table ("config wan
// lte apntable", sections apn1..apn8) gives each entry an APN name and a
// PDN label; an operator-specific label table, chosen by the store's
// operator code, maps labels to APN types. Every lookup dumps the table
// again, so a change in the store counts from the next lookup on.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "config/confdb_access.h"

namespace cnxd {

// APN type numbers.
constexpr uint32_t APN_TYPE_INTERNET = 0;
constexpr uint32_t APN_TYPE_IMS = 1;
constexpr uint32_t APN_TYPE_ADMIN = 2;  // ota on Sprint
constexpr uint32_t APN_TYPE_APP = 3;    // pam on Sprint
constexpr uint32_t APN_TYPE_EMERGENCY = 4;
constexpr uint32_t APN_TYPE_ENTERPRISE = 5;
constexpr uint32_t APN_TYPE_B2B = 6;  // firstnet on AT&T
constexpr uint32_t APN_TYPE_RESERVED3 = 7;
constexpr uint32_t APN_TYPE_MAX = 7;  // the record fillers take 0..7
constexpr uint32_t APN_TYPE_NONE = 255;

// A label table row. A table ends with a row without label (type 255);
// lookups take the first row that matches.
struct apn_table_row {
    const char* label;
    uint32_t type;
};

inline constexpr apn_table_row vzw_apn_table_section_list[] = {
    {"internet", APN_TYPE_INTERNET}, {"ims", APN_TYPE_IMS},
    {"admin", APN_TYPE_ADMIN},       {"app", APN_TYPE_APP},
    {"emergency", APN_TYPE_EMERGENCY}, {"enterprise", APN_TYPE_ENTERPRISE},
    {"b2b", APN_TYPE_B2B},           {"reserved3", APN_TYPE_RESERVED3},
    {nullptr, APN_TYPE_NONE},
};

inline constexpr apn_table_row att_apn_table_section_list[] = {
    {"internet", APN_TYPE_INTERNET}, {"ims", APN_TYPE_IMS},
    {"admin", APN_TYPE_ADMIN},       {"app", APN_TYPE_APP},
    {"emergency", APN_TYPE_EMERGENCY}, {"enterprise", APN_TYPE_ENTERPRISE},
    {"firstnet", APN_TYPE_B2B},      {"reserved3", APN_TYPE_RESERVED3},
    {nullptr, APN_TYPE_NONE},
};

// Order matters: "ota" stands before "internet".
inline constexpr apn_table_row sprint_apn_table_section_list[] = {
    {"ota", APN_TYPE_ADMIN},
    {"internet", APN_TYPE_INTERNET},
    {"pam", APN_TYPE_APP},
    {nullptr, APN_TYPE_NONE},
};

// Exported for other users; the lookups here do not consult it.
inline constexpr apn_table_row dft_apn_table_section_list[] = {
    {"internet", APN_TYPE_INTERNET}, {"ims", APN_TYPE_IMS},   {"admin", APN_TYPE_ADMIN},
    {"app", APN_TYPE_APP},           {"emergency", APN_TYPE_EMERGENCY}, {nullptr, APN_TYPE_NONE},
};

// The operator codes that have their own table; every other code uses the
// label-derived table.
struct operator_apn_table {
    int op;
    const apn_table_row* rows;
};
inline constexpr operator_apn_table operator_apn_table_list[] = {
    {OPERATOR_SPRINT, sprint_apn_table_section_list},
    {OPERATOR_ATT, att_apn_table_section_list},
    {OPERATOR_VZW, vzw_apn_table_section_list},
};

// The label-derived table: one row per section apn1..apn8 labelled in
// caller-provided slots, ended by the first empty row (or after eight).
constexpr int APN_SECTION_COUNT = 8;
constexpr size_t APN_LABEL_SIZE = 128;
using apn_label_slots = std::array<std::array<char, APN_LABEL_SIZE>, APN_SECTION_COUNT>;
using label_apn_table = std::array<apn_table_row, APN_SECTION_COUNT + 1>;

// Builds the label-derived table from an APN table dump the caller made
// (`dump_file` in router form). Row n-1 gets the label of section "apn<n>"
// (cut to 127 characters) and, as type, the interface type of CID n, or n-1
// when that CID has none.
void CNXD_BuildLabelApnTable(label_apn_table& rows, const char* dump_file, apn_label_slots& labels);

// The APN type of an APN name, or APN_TYPE_NONE. `name` is the caller's
// buffer of at least 10 bytes holding a terminated name; on operators 2 and
// 7 the test names "TestGp.rs" and "Test12.rs" are rewritten in it to the
// operator's admin APN name ("vzwadmin", "otasn") before the lookup.
uint32_t CNXD_GetApnTypeByName(std::span<char> name);

// The configured APN name of an APN type, or nothing.
std::optional<std::string> CNXD_GetApnNameByAPNType(uint32_t type);

// The APN part of the SDK's attach request. Offsets are fixed by the SDK.
struct apn_record_layout {
    size_t size;  // the least record size the filler accepts
    size_t filled, apn_name, apn_name_len, pdn_type, ip_alloc;
    size_t username, username_len, password, password_len, auth_type;
    size_t gen_pco_used, gen_pco_bits, oper_pco_used, oper_pco_len, oper_pco, oper_pco_size;
    size_t apn_type;                   // input, set by the caller
    std::optional<size_t> secure_pco;  // attach record only
};

inline constexpr apn_record_layout attach_apn_info_layout = {
    .size = 352, .filled = 0, .apn_name = 2, .apn_name_len = 100, .pdn_type = 102,
    .ip_alloc = 103, .username = 104, .username_len = 64, .password = 168, .password_len = 64,
    .auth_type = 232, .gen_pco_used = 233, .gen_pco_bits = 234, .oper_pco_used = 236,
    .oper_pco_len = 237, .oper_pco = 238, .oper_pco_size = 100, .apn_type = 338,
    .secure_pco = 351,
};

// The APN part of the SDK's PDN connectivity request (offsets from the
// request's start).
inline constexpr apn_record_layout pdn_conn_apn_info_layout = {
    .size = 411, .filled = 1, .apn_name = 2, .apn_name_len = 100, .pdn_type = 102,
    .ip_alloc = 103, .username = 104, .username_len = 100, .password = 204, .password_len = 100,
    .auth_type = 304, .gen_pco_used = 305, .gen_pco_bits = 306, .oper_pco_used = 308,
    .oper_pco_len = 309, .oper_pco = 310, .oper_pco_size = 100, .apn_type = 410,
    .secure_pco = std::nullopt,
};

// PDN disconnect record: byte 4 the APN name length, bytes 5..68 the name.
constexpr size_t PDN_DISCONN_SIZE = 69;
constexpr size_t PDN_DISCONN_APN_LEN = 4;
constexpr size_t PDN_DISCONN_APN_NAME = 5;
constexpr size_t PDN_DISCONN_APN_NAME_MAX = 64;

// Fill the APN part of a record from the APN table entry of the type the
// caller put at the layout's apn_type offset. 0 when filled; -1 (record
// untouched) for a type above 7, a record too short, or a type without an
// entry in the store.
int CNXD_FillAttachApnInfo(std::span<uint8_t> record);
int CNXD_FillPdnConnApnInfo(std::span<uint8_t> record);
int CNXD_FillPdnDisconnApnName(std::span<uint8_t> record, uint32_t type);

// Interface type per CID 1..8; 0xFF means unset (the initial value).
extern std::array<std::atomic<uint8_t>, APN_SECTION_COUNT> cid_interface_type_tbl;
// 1 when stored, 0 for a CID outside 1..8.
int CNXD_SetCidInterfaceType(int cid, int type);
// The stored type, or -1 for a CID outside 1..8 or an unset one.
int CNXD_GetCidInterfaceType(int cid);

}  // namespace cnxd
