// A parameter file of any contents: one of the field readers on tags that
// are prefixes of one another, the multi-set parser until the file ends, or
// a file-fed builder or composite request type of the tables with the
// request's check.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "base/path.h"
#include "param/param.h"
#include "support/check.h"
#include "support/sysroot.h"

namespace {

using namespace cnxd;

// A file-fed builder, or one file-fed request type of a composite, with the
// arguments the shell would give it.
struct fed_build {
    const make_param_row* row;
    const char* file;
    bool typed;     // a composite's request type, given as the first argument
    uint16_t type;
};

std::vector<fed_build> fed_builds()
{
    std::vector<fed_build> out;
    for (const make_param_row& row : make_parameter) {
        if (row.file)
            out.push_back({&row, row.file, false, 0});
        if (row.composite)
            for (const param_type& t : row.composite->types)
                if (t.file)
                    out.push_back({&row, t.file, true, t.type});
    }
    return out;
}

}  // namespace

// The first byte chooses one way per input (each way writes and opens the
// file, which under the sanitizers costs more than the parsing). Below 0x80
// it picks a file-fed builder, which runs with its request's check (the
// seeds start with the byte of the builder their file is for); from 0x80 on
// its bits pick a tag (0-1), a width (2-3) and a reader (4-6): the field
// readers, or the multi-set parser until the file ends. The rest is the
// file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool paths = [] {
        std::filesystem::create_directories(fuzz::fuzz_root() + PARAM_DIR_DEFAULT);
        set_log_file_paths();
        return true;
    }();
    (void)paths;
    static const std::vector<fed_build> builds = fed_builds();
    if (size == 0)
        return 0;
    const uint8_t pick = data[0];
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    if (pick < 0x80) {
        const fed_build& b = builds[pick % builds.size()];
        fuzz::write_root_file(b.file, bytes);
        const std::string type = std::to_string(b.type);
        const char* plain[] = {"1", "internet", "1"};
        const char* typed[] = {type.c_str(), "2"};
        const param_args args = b.typed ? param_args{2, typed} : param_args{3, plain};
        std::vector<uint8_t> rec(b.row->size, 0);
        if (param_make(static_cast<size_t>(b.row->kind), rec, {b.row->file, &args}) == 0 && b.row->check >= 0)
            param_check(static_cast<size_t>(b.row->check), rec);
        return 0;
    }
    constexpr const char* path = "/var/lte/param/fuzz.param";
    fuzz::write_root_file(path, bytes);
    static constexpr const char* tags[] = {"a", "ab", "OPER_PCO_DATA", ""};
    static constexpr size_t widths[] = {1, 2, 4, 8};
    const char* tag = tags[pick & 3];
    const size_t width = widths[(pick >> 2) & 3];
    uint8_t dest[8];
    uint8_t list[16];
    const size_t max = sizeof list / width;
    uint8_t text[32];
    switch ((pick >> 4) & 7) {
    case 0: add_param_file(path, tag, width, dest); break;
    case 1: add_signed_param_file(path, tag, width, dest); break;
    case 2: add_hexparam_file(path, tag, width, dest); break;
    case 3:
        fuzz::expect(add_separate_param_file(path, tag, width, ',', max, list) <= static_cast<int>(max),
                     "a list holds at most its maximum");
        break;
    case 4: add_separate_hexparam_file(path, tag, width, '.', max, list); break;
    case 5: add_bit_param_file(path, tag, width, ',', 16, std::span(list).first(2)); break;
    case 6:
        add_param_st_file(path, tag, text, sizeof text);
        check_exist_param(path, tag);
        break;
    default: {
        std::vector<multi_set_slot> keys(3);
        std::snprintf(keys[0].data(), MULTI_SET_SLOT, "BAND");
        std::snprintf(keys[1].data(), MULTI_SET_SLOT, "START_EARFCN");
        std::snprintf(keys[2].data(), MULTI_SET_SLOT, "END_EARFCN");
        std::vector<multi_set_slot> values(3);
        if (FILE* f = std::fopen(cnxd_path(path).c_str(), "r")) {
            while (multiSetTagParser(f, keys, values, keys.size()) == 0)
                for (const multi_set_slot& v : values)
                    fuzz::expect(v.back() == '\0', "a value slot keeps its terminator");
            std::fclose(f);
        }
    }
    }
    return 0;
}
