// Parameter-file tests run in a throw-away sysroot (CNXD_ROOT) with the
// parameter paths at their defaults, and catch what the readers, builders
// and checks print at the error level through the SDK's print callback.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/be.h"
#include "base/path.h"
#include "ltesdk.h"
#include "modem/bringup.h"
#include "modem/cm_printf.h"
#include "param/param.h"

namespace cnxd::test {

inline std::string& printed()
{
    static std::string text;
    return text;
}

inline void catch_print(const char* fmt, ...)
{
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    printed() += buf;
}

class ParamTest : public ::testing::Test {
protected:
    ParamTest()
    {
        char tmpl[] = "/tmp/cnxd-param-XXXXXX";
        root_ = mkdtemp(tmpl);
        setenv("CNXD_ROOT", root_.c_str(), 1);
        cnxd_reload_root();
        unsetenv("LTE_PARAM_DIR");
        set_log_file_paths();
        std::filesystem::create_directories(root_ + PARAM_DIR_DEFAULT);
        std::filesystem::create_directories(root_ + "/var/tmp");
        EXPECT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> config{};
        uint8_t* cm = config.data() + LAPI_LOG_CM_BLOCK;
        store_be16(cm + LAPI_LOG_BLOCK_MODE, LAPI_LOG_MODE_CALLBACK);
        store_be16(cm + LAPI_LOG_BLOCK_LEVEL, CM_ERR);
        store_be32(cm + LAPI_LOG_BLOCK_CALLBACK, sdk_addr_to_word(reinterpret_cast<const void*>(&catch_print)));
        EXPECT_EQ(0, LAPI_SetLogConfig(hAPI, 0, config.data()));
        printed().clear();
    }
    ~ParamTest() override
    {
        LAPI_LTEAPIClose(hAPI);
        std::filesystem::remove_all(root_);
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
    }

    // Writes `text` as the router file `path` of the sysroot.
    void write(const char* path, const std::string& text) const
    {
        std::ofstream(root_ + path, std::ios::binary) << text;
    }
    // What was printed since the last call.
    static std::string take_printed()
    {
        std::string out;
        out.swap(printed());
        return out;
    }

    std::string root_;
};

// Bytes as lower-case hex pairs without separators.
inline std::string hex(std::span<const uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace cnxd::test
