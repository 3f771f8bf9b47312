#include "config/apn_table.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/be.h"
#include "base/hex.h"
#include "ltesdk.h"

namespace cnxd {

std::array<std::atomic<uint8_t>, APN_SECTION_COUNT> cid_interface_type_tbl = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

namespace {

constexpr uint8_t kCidTypeUnset = 0xFF;
constexpr const char* kApnTableNode = "config wan lte apntable";

// The operators' test APN names, taken as the operator's admin APN.
constexpr const char* kTestApnNames[] = {"TestGp.rs", "Test12.rs"};
struct test_apn_rename {
    int op;
    const char* name;
};
constexpr test_apn_rename kTestApnRenames[] = {
    {OPERATOR_SPRINT, "otasn"},
    {OPERATOR_VZW, "vzwadmin"},
};

std::string section_name(int n) { return "apn" + std::to_string(n); }

// A configured label (or APN name) matches when all its characters equal
// the start of `target`, ignoring case ("inter" matches "internet"). An
// empty configured text has no characters to differ, so it matches any
// row: the type of a section whose label is empty is that of the table's
// first row. The section walks skip empty texts themselves (an entry
// without a name is never the APN asked for, nor one without a label the
// entry of a type).
bool prefix_matches(const char* configured, const char* target)
{
    return target && strncasecmp(configured, target, std::strlen(configured)) == 0;
}

const apn_table_row* operator_rows(int op)
{
    for (const operator_apn_table& t : operator_apn_table_list)
        if (t.op == op)
            return t.rows;
    return nullptr;
}

// One lookup's view of the APN table: the dump of the store's table (gone
// with the view) and the label table chosen by the operator code.
class ApnTableLookup {
public:
    ApnTableLookup()
        : dump_("confdb_wan_lte_apntable", kApnTableNode), op_(CNXD_GetOperator()),
          rows_(operator_rows(op_))
    {
        if (!rows_) {
            CNXD_BuildLabelApnTable(derived_, dump_.file().c_str(), labels_);
            rows_ = derived_.data();
        }
    }
    ApnTableLookup(const ApnTableLookup&) = delete;
    ApnTableLookup& operator=(const ApnTableLookup&) = delete;

    int op() const { return op_; }

    const apn_table_row* row_of_type(uint32_t type) const
    {
        for (const apn_table_row* row = rows_; row->label; ++row)
            if (row->type == type)
                return row;
        return nullptr;
    }

    uint32_t type_of_label(const char* label) const
    {
        for (const apn_table_row* row = rows_; row->label; ++row)
            if (prefix_matches(label, row->label))
                return row->type;
        return APN_TYPE_NONE;
    }

    // The first section whose label matches a table row's label; 0: none.
    int section_with_label(const char* row_label) const { return first_section("pdn_label", row_label); }

    // The first section whose APN name starts the requested name; 0: none.
    int section_with_name(const char* name) const { return first_section("apn_name", name); }

    // The first section whose non-empty `key` matches `target`; 0: none.
    int first_section(const char* key, const char* target) const
    {
        for (int n = 1; n <= APN_SECTION_COUNT; ++n) {
            const std::string v = value(n, key);
            if (!v.empty() && prefix_matches(v.c_str(), target))
                return n;
        }
        return 0;
    }

    std::string value(int n, const char* key) const
    {
        confdb_value v;
        dump_.read(section_name(n).c_str(), key, "", v);
        return v.data();
    }

private:
    ConfdbDump dump_;
    int op_;
    const apn_table_row* rows_;
    label_apn_table derived_{};
    apn_label_slots labels_{};
};

// The section that fills records of `type`: the first one labelled for the
// type's table row. 0 when the type has no row or no section carries its
// label; the record is then left alone rather than filled from an entry
// meant for another type.
int section_of_type(uint32_t type)
{
    const ApnTableLookup table;
    const apn_table_row* row = table.row_of_type(type);
    return row ? table.section_with_label(row->label) : 0;
}

// Single-key read of an entry's key; a present but empty value gives
// `empty_default`.
std::string read_entry(int n, const char* key, const char* empty_default)
{
    const std::string node = std::string(kApnTableNode) + " " + section_name(n);
    confdb_value v;
    return CNXD_GetConfdbValue(node.c_str(), key, v) == 0 ? empty_default : v.data();
}

uint8_t decimal_byte(const std::string& text)
{
    return static_cast<uint8_t>(std::strtol(text.c_str(), nullptr, 10));
}

// Zeroes a text field and copies `text` into it, cut so that a terminator
// always fits.
void put_text(std::span<uint8_t> rec, size_t off, size_t width, std::string_view text)
{
    const std::span<uint8_t> field = rec.subspan(off, width);
    std::fill(field.begin(), field.end(), 0);
    std::copy_n(text.begin(), std::min(text.size(), width - 1), field.begin());
}

// A character that is no hex digit counts as 0.
uint8_t hex_nibble(char c) { return static_cast<uint8_t>(std::max(hex_digit(c), 0)); }

// Operator PCO text to bytes: after a "0x" prefix (any lower-case 'x' in
// the text; an 'X' is no prefix and counts as a 0 digit) two characters per byte, the first the high nibble, an
// odd last character with low nibble 0. Bytes past `out` are dropped.
void oper_pco_bytes(std::string_view text, std::span<uint8_t> out)
{
    const bool prefixed = text.find('x') != std::string_view::npos;
    size_t i = prefixed ? std::min<size_t>(2, text.size()) : 0;
    for (size_t o = 0; i < text.size() && o < out.size(); i += 2, ++o) {
        const uint8_t low = i + 1 < text.size() ? hex_nibble(text[i + 1]) : 0;
        out[o] = static_cast<uint8_t>(hex_nibble(text[i]) << 4 | low);
    }
}

int fill_apn_record(std::span<uint8_t> rec, const apn_record_layout& layout, const char* fn)
{
    if (rec.size() < layout.size) {
        sdk_log(3, "[%-25s] record of %zu bytes, %zu needed\n", fn, rec.size(), layout.size);
        return -1;
    }
    const uint32_t type = rec[layout.apn_type];
    if (type > APN_TYPE_MAX)
        return -1;
    const int n = section_of_type(type);
    if (n == 0) {
        sdk_log(4, "[%-25s] no APN table entry for APN type %u\n", fn, type);
        return -1;
    }
    rec[layout.filled] = 1;
    put_text(rec, layout.apn_name, layout.apn_name_len, read_entry(n, "apn_name", ""));
    rec[layout.pdn_type] = decimal_byte(read_entry(n, "pdn_type", "0"));
    rec[layout.ip_alloc] = decimal_byte(read_entry(n, "ip_alloc", "0"));
    rec[layout.auth_type] = decimal_byte(read_entry(n, "auth_flag", "0"));
    put_text(rec, layout.username, layout.username_len, read_entry(n, "username", ""));
    put_text(rec, layout.password, layout.password_len, read_entry(n, "password", ""));

    const bool gen_used = read_entry(n, "use_gen_pco", "0") == "1";
    const std::string gen_pco = read_entry(n, "gen_pco", "0");
    rec[layout.gen_pco_used] = gen_used ? 1 : 0;
    store_be16(&rec[layout.gen_pco_bits],
               gen_used ? static_cast<uint16_t>(std::strtol(gen_pco.c_str(), nullptr, 2)) : 0);

    const bool oper_used = read_entry(n, "use_oper_pco", "0") == "1";
    const long oper_len = std::strtol(read_entry(n, "oper_pco_len", "0").c_str(), nullptr, 10);
    const std::string oper_pco = read_entry(n, "oper_pco", "");
    const std::span<uint8_t> pco = rec.subspan(layout.oper_pco, layout.oper_pco_size);
    std::fill(pco.begin(), pco.end(), 0);
    rec[layout.oper_pco_used] = oper_used ? 1 : 0;
    // The length byte tells the modem how many of the PCO bytes to take; a
    // configured length beyond the field (or below 0) is cut to it, so the
    // modem never reads past the PCO bytes into the fields after them.
    const long max_len = static_cast<long>(pco.size());
    rec[layout.oper_pco_len] = oper_used ? static_cast<uint8_t>(std::clamp(oper_len, 0L, max_len)) : 0;
    if (oper_used)
        oper_pco_bytes(oper_pco, pco);

    if (layout.secure_pco)
        rec[*layout.secure_pco] = decimal_byte(read_entry(n, "secure_pco", "0"));
    return 0;
}

}  // namespace

void CNXD_BuildLabelApnTable(label_apn_table& rows, const char* dump_file, apn_label_slots& labels)
{
    rows.fill({nullptr, APN_TYPE_NONE});
    for (int n = 1; n <= APN_SECTION_COUNT; ++n) {
        confdb_value label;
        if (confdb_read_dump(dump_file ? dump_file : "", section_name(n).c_str(), "pdn_label", "",
                             label) == 0)
            continue;
        std::array<char, APN_LABEL_SIZE>& slot = labels[n - 1];
        slot.fill('\0');
        std::memcpy(slot.data(), label.data(), strnlen(label.data(), slot.size() - 1));
        const int cid_type = CNXD_GetCidInterfaceType(n);
        rows[n - 1] = {slot.data(), static_cast<uint32_t>(cid_type < 0 ? n - 1 : cid_type)};
    }
}

uint32_t CNXD_GetApnTypeByName(std::span<char> name)
{
    if (name.empty() || name[0] == '\0' || std::find(name.begin(), name.end(), '\0') == name.end())
        return APN_TYPE_NONE;
    const ApnTableLookup table;
    for (const test_apn_rename& rename : kTestApnRenames) {
        if (rename.op != table.op() || std::strlen(rename.name) >= name.size())
            continue;
        for (const char* test_name : kTestApnNames)
            if (strcasecmp(name.data(), test_name) == 0) {
                std::memset(name.data(), 0, std::strlen(name.data()));
                std::strcpy(name.data(), rename.name);
                break;
            }
    }
    const int n = table.section_with_name(name.data());
    if (n == 0)
        return APN_TYPE_NONE;
    return table.type_of_label(table.value(n, "pdn_label").c_str());
}

std::optional<std::string> CNXD_GetApnNameByAPNType(uint32_t type)
{
    const ApnTableLookup table;
    const apn_table_row* row = table.row_of_type(type);
    const int n = row ? table.section_with_label(row->label) : 0;
    if (n == 0)
        return std::nullopt;
    std::string apn = table.value(n, "apn_name");
    if (apn.empty())
        return std::nullopt;
    return apn;
}

int CNXD_FillAttachApnInfo(std::span<uint8_t> record)
{
    return fill_apn_record(record, attach_apn_info_layout, "CNXD_FillAttachApnInfo");
}

int CNXD_FillPdnConnApnInfo(std::span<uint8_t> record)
{
    return fill_apn_record(record, pdn_conn_apn_info_layout, "CNXD_FillPdnConnApnInfo");
}

int CNXD_FillPdnDisconnApnName(std::span<uint8_t> record, uint32_t type)
{
    if (type > APN_TYPE_MAX || record.size() < PDN_DISCONN_SIZE)
        return -1;
    const int n = section_of_type(type);
    if (n == 0) {
        sdk_log(4, "[%-25s] no APN table entry for APN type %u\n", "CNXD_FillPdnDisconnApnName",
                type);
        return -1;
    }
    const std::string apn = read_entry(n, "apn_name", "");
    record[PDN_DISCONN_APN_LEN] = static_cast<uint8_t>(std::min<size_t>(apn.size(), 255));
    const std::span<uint8_t> field = record.subspan(PDN_DISCONN_APN_NAME, PDN_DISCONN_APN_NAME_MAX);
    std::fill(field.begin(), field.end(), 0);
    // A longer name does not fit and is not copied.
    if (apn.size() <= PDN_DISCONN_APN_NAME_MAX)
        std::copy(apn.begin(), apn.end(), field.begin());
    return 0;
}

int CNXD_SetCidInterfaceType(int cid, int type)
{
    sdk_log(7, "%s(): Set CID: %d, Interface Type: %d\n", __func__, cid, type);
    if (cid < 1 || cid > APN_SECTION_COUNT) {
        sdk_log(7, "%s(): Incorrect CID value (%d)\n", __func__, cid);
        return 0;
    }
    cid_interface_type_tbl[cid - 1] = static_cast<uint8_t>(type);
    return 1;
}

int CNXD_GetCidInterfaceType(int cid)
{
    const int type = cid >= 1 && cid <= APN_SECTION_COUNT ? cid_interface_type_tbl[cid - 1].load()
                                                          : kCidTypeUnset;
    if (type == kCidTypeUnset) {
        sdk_log(7, "%s(): Incorrect CID value (%d) or Interface Type (%d)\n", __func__, cid, type);
        return -1;
    }
    return type;
}

}  // namespace cnxd
