#include "base/path.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <vector>

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

// Never destroyed: detached threads may still build paths while the
// process exits.
std::string& root_storage()
{
    static std::string& root = *new std::string(read_root());
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

// The kernel's own bound on the links it follows in one path.
constexpr int SYMLINK_MAX = 40;

// The names between the slashes of `path`, empty ones dropped.
std::deque<std::string> components(std::string_view path)
{
    std::deque<std::string> names;
    while (!path.empty()) {
        const size_t end = std::min(path.find('/'), path.size());
        if (end > 0)
            names.emplace_back(path.substr(0, end));
        path.remove_prefix(std::min(end + 1, path.size()));
    }
    return names;
}

// `root` followed by "/" and each name.
std::string joined(const std::string& root, const std::vector<std::string>& names)
{
    std::string out = root;
    for (const std::string& name : names)
        out += "/" + name;
    return names.empty() ? out + "/" : out;
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

std::string cnxd_sysroot_path(std::string_view path)
{
    const std::string& root = cnxd_root();
    if (root.empty())
        return std::string(path);
    std::vector<std::string> done;  // resolved components, none a link
    std::deque<std::string> todo = components(path);
    int links = 0;
    while (!todo.empty()) {
        std::string name = std::move(todo.front());
        todo.pop_front();
        if (name == ".")
            continue;
        if (name == "..") {
            if (!done.empty())
                done.pop_back();
            continue;
        }
        done.push_back(std::move(name));
        std::array<char, PATH_MAX> target;
        const ssize_t n = readlink(joined(root, done).c_str(), target.data(), target.size());
        if (n < 0 && (errno == EINVAL || errno == ENOENT || errno == ENOTDIR))
            continue;  // no link (or no such file yet): kept as named
        // A link that cannot be read whole, or one link too many: nothing
        // is opened rather than something outside.
        if (n < 0 || static_cast<size_t>(n) >= target.size() || ++links > SYMLINK_MAX)
            return "";
        done.pop_back();
        const std::string_view link(target.data(), static_cast<size_t>(n));
        if (link.starts_with('/'))
            done.clear();
        std::deque<std::string> rest = components(link);
        todo.insert(todo.begin(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
    }
    return joined(root, done);
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
