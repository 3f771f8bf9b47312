#include "base/path.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <filesystem>

namespace cnxd {
namespace {

std::string read_root()
{
    const char* env = std::getenv("CNXD_ROOT");
    std::string root = env ? env : "";
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    if (root == "/")
        root.clear();
    return root;
}

std::string& root_storage()
{
    static std::string root = read_root();
    return root;
}

// Kernel and device file systems are the host's own, also under a sysroot.
bool is_system_path(std::string_view path)
{
    for (std::string_view dir : {"/dev/", "/proc/", "/sys/"})
        if (path.starts_with(dir))
            return true;
    return path == "/dev" || path == "/proc" || path == "/sys";
}

}  // namespace

const std::string& cnxd_root() { return root_storage(); }

void cnxd_reload_root() { root_storage() = read_root(); }

std::string cnxd_path(std::string_view path)
{
    if (path.empty() || path.front() != '/' || is_system_path(path))
        return std::string(path);
    // A path that climbs with ".." (it may come from a client) is resolved
    // lexically first, "/.." being "/", so that it stays inside the sysroot.
    if (!cnxd_root().empty() && path.find("..") != std::string_view::npos)
        return cnxd_root() + std::filesystem::path(path).lexically_normal().string();
    return cnxd_root() + std::string(path);
}

std::string cnxd_device_path(std::string_view path)
{
    if (!cnxd_root().empty() && is_system_path(path))
        return cnxd_root() + std::filesystem::path(path).lexically_normal().string();
    return cnxd_path(path);
}

int cnxd_cmd_port()
{
    const char* env = std::getenv("CNXD_CMD_PORT");
    if (env && *env) {
        char* end = nullptr;
        long port = std::strtol(env, &end, 10);
        if (*end == '\0' && port > 0 && port < 65536)
            return static_cast<int>(port);
    }
    return 1004;
}

bool cnxd_cmd_addr(uint32_t* addr)
{
    if (cnxd_root().empty()) {
        *addr = INADDR_ANY;
        return true;
    }
    *addr = INADDR_LOOPBACK;
    const char* env = std::getenv("CNXD_CMD_ADDR");
    if (!env || !*env)
        return true;
    in_addr given{};
    if (inet_pton(AF_INET, env, &given) != 1)
        return false;
    *addr = ntohl(given.s_addr);
    return true;
}

void cnxd_setup_host_path()
{
    const std::string& root = cnxd_root();
    if (root.empty())
        return;
    std::string path = root + "/bin:" + root + "/sbin:" + root + "/usr/bin:" + root + "/usr/sbin";
    if (const char* old = std::getenv("PATH"); old && *old)
        path += std::string(":") + old;
    setenv("PATH", path.c_str(), 1);
}

}  // namespace cnxd
