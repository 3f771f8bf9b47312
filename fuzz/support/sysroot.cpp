#include "support/sysroot.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/path.h"
#include "ltesdk.h"
#include "support/check.h"

namespace cnxd::fuzz {
namespace {

std::string make_root()
{
    char dir[] = "/tmp/cnxd-fuzz-XXXXXX";
    expect(mkdtemp(dir) != nullptr, "sysroot made");
    std::filesystem::create_directories(std::string(dir) + "/var/tmp");
    std::filesystem::create_directories(std::string(dir) + "/var/run");
    // The search path is the sysroot's empty bin: a handler that reaches
    // the shell finds no program.
    std::filesystem::create_directories(std::string(dir) + "/bin");
    setenv("PATH", (std::string(dir) + "/bin").c_str(), 1);
    setenv("CNXD_ROOT", dir, 1);
    cnxd_reload_root();
    // Relative paths that inputs name (log files, say) land in here too.
    expect(chdir(dir) == 0, "working directory in the sysroot");

    // The trace printfs go to standard output, which libFuzzer leaves alone.
    expect(std::freopen("/dev/null", "w", stdout) != nullptr, "stdout discarded");
    sdk_set_log_type(SDK_LOG_TYPE_FILE, "cnxd-fuzz");
    sdk_set_log_file("/dev/null", 1);
    sdk_set_log_level(7);
    cnxd_api_flags = 1;
    cnxd_flags = 1;
    return dir;
}

void remove_root()
{
    std::error_code ignored;
    std::filesystem::remove_all(fuzz_root(), ignored);
}

}  // namespace

const std::string& fuzz_root()
{
    // Never destroyed: the exit handler removes the directory and must
    // still find its name.
    static const std::string* root = [] {
        auto* dir = new std::string(make_root());
        std::atexit(remove_root);
        return dir;
    }();
    return *root;
}

void write_root_file(const char* path, std::span<const uint8_t> bytes)
{
    fuzz_root();
    FILE* f = std::fopen(cnxd_path(path).c_str(), "wb");
    expect(f != nullptr, "sysroot file written");
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

}  // namespace cnxd::fuzz
