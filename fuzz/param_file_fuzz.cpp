// A parameter file of any contents: every field reader on tags that are
// prefixes of one another, the multi-set parser until the file ends, and
// every file-fed builder and composite request type of the tables with the
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cnxd;
    static const bool paths = [] {
        std::filesystem::create_directories(fuzz::fuzz_root() + PARAM_DIR_DEFAULT);
        set_log_file_paths();
        return true;
    }();
    (void)paths;
    const std::span<const uint8_t> bytes(data, size);
    constexpr const char* path = "/var/lte/param/fuzz.param";
    fuzz::write_root_file(path, bytes);

    for (const char* tag : {"a", "ab", "OPER_PCO_DATA", ""}) {
        for (size_t width : {1u, 2u, 4u, 8u}) {
            uint8_t dest[8];
            add_param_file(path, tag, width, dest);
            add_signed_param_file(path, tag, width, dest);
            add_hexparam_file(path, tag, width, dest);
            uint8_t list[16];
            const size_t max = sizeof list / width;
            fuzz::expect(add_separate_param_file(path, tag, width, ',', max, list) <= static_cast<int>(max),
                         "a list holds at most its maximum");
            add_separate_hexparam_file(path, tag, width, '.', max, list);
            add_bit_param_file(path, tag, width, ',', 16, std::span(list).first(2));
        }
        uint8_t text[32];
        add_param_st_file(path, tag, text, sizeof text);
        check_exist_param(path, tag);
    }

    std::vector<multi_set_slot> tags(3);
    std::snprintf(tags[0].data(), MULTI_SET_SLOT, "BAND");
    std::snprintf(tags[1].data(), MULTI_SET_SLOT, "START_EARFCN");
    std::snprintf(tags[2].data(), MULTI_SET_SLOT, "END_EARFCN");
    std::vector<multi_set_slot> values(3);
    if (FILE* f = std::fopen(cnxd_path(path).c_str(), "r")) {
        while (multiSetTagParser(f, tags, values, tags.size()) == 0)
            for (const multi_set_slot& v : values)
                fuzz::expect(v.back() == '\0', "a value slot keeps its terminator");
        std::fclose(f);
    }

    // Every file-fed builder and every file-fed request type of the
    // composites, the input as its file, and the request's check.
    std::vector<uint8_t> rec;
    const auto build = [&](const make_param_row& row, const char* file, std::span<const char* const> argv) {
        fuzz::write_root_file(file, bytes);
        const param_args args{static_cast<int>(argv.size()), argv.data()};
        rec.assign(row.size, 0);
        if (param_make(static_cast<size_t>(row.kind), rec, {row.file, &args}) == 0 && row.check >= 0)
            param_check(static_cast<size_t>(row.check), rec);
    };
    for (const make_param_row& row : make_parameter) {
        if (row.file) {
            const char* argv[] = {"1", "internet", "1"};
            build(row, row.file, argv);
        }
        if (!row.composite)
            continue;
        for (const param_type& t : row.composite->types) {
            if (!t.file)
                continue;
            const std::string type = std::to_string(t.type);
            const char* argv[] = {type.c_str(), "2"};
            build(row, t.file, argv);
        }
    }
    return 0;
}
