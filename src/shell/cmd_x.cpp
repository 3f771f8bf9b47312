// The diagnostics tool: the sub-command table and the small tools (test,
// sha256, var, malloc, nv, nvl, mem and the fault injections). The runner,
// the flash and NV tests and the serial test have files of their own.
#include "shell/cmd_x.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#if CNXD_HAVE_LIBCRYPTO
#include <dlfcn.h>
#include <openssl/evp.h>
#endif

#include "base/fd.h"
#include "base/path.h"
#include "base/stop.h"
#include "base/shell.h"
#include "ltesdk.h"
#include "nv.h"

namespace cnxd {

void x_printf(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

namespace {

// A token as an unsigned or signed number: decimal, octal or 0x-hex.
uint32_t number(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 0)); }

// ---- test

int x_test(int, char**)
{
    x_printf("x_test\n");
    return 0;
}

// ---- sha256

#if CNXD_HAVE_LIBCRYPTO
// Read in pieces of this size.
constexpr size_t SHA256_PIECE = 64 * 1024;

// The EVP calls the checksum makes (SHA256_Init/Update/Final are
// deprecated since OpenSSL 3), taken from libcrypto, which is loaded on
// the first checksum and stays loaded.
struct Evp {
    decltype(&EVP_MD_CTX_new) ctx_new;
    decltype(&EVP_MD_CTX_free) ctx_free;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_DigestInit_ex) init;
    decltype(&EVP_DigestUpdate) update;
    decltype(&EVP_DigestFinal_ex) final;
};

template <class F>
bool take(void* lib, const char* name, F& f)
{
    f = reinterpret_cast<F>(dlsym(lib, name));
    return f != nullptr;
}

// The calls, or nullptr after printing why libcrypto is not there.
const Evp* evp()
{
    struct Loaded {
        std::optional<Evp> calls;
        std::string why;
    };
    static const Loaded loaded = [] {
        void* lib = dlopen(CNXD_LIBCRYPTO_SONAME, RTLD_NOW | RTLD_LOCAL);
        Evp e{};
        if (lib && take(lib, "EVP_MD_CTX_new", e.ctx_new) && take(lib, "EVP_MD_CTX_free", e.ctx_free) &&
            take(lib, "EVP_sha256", e.sha256) && take(lib, "EVP_DigestInit_ex", e.init) &&
            take(lib, "EVP_DigestUpdate", e.update) && take(lib, "EVP_DigestFinal_ex", e.final))
            return Loaded{e, ""};
        return Loaded{std::nullopt, dlerror()};
    }();
    if (!loaded.calls)
        x_printf("sha256: %s\n", loaded.why.c_str());
    return loaded.calls ? &*loaded.calls : nullptr;
}

// The file's digest in lower-case hex, or "" after printing why not.
std::string file_sha256(const char* path)
{
    const Evp* api = evp();
    if (!api)
        return "";
    // Under a sysroot any path, a device's too, is the sysroot's file.
    // Without blocking: a FIFO with no writer ends at once.
    UniqueFd fd(open(cnxd_sysroot_path(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        x_printf("open(%s) fail %s(%d)\n", path, std::strerror(errno), errno);
        return "";
    }
    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(api->ctx_new(), api->ctx_free);
    if (!ctx || api->init(ctx.get(), api->sha256(), nullptr) != 1) {
        x_printf("sha256: digest init fail\n");
        return "";
    }
    std::vector<uint8_t> piece(SHA256_PIECE);
    while (!cnxd_stopping()) {
        const ssize_t n = read(fd.get(), piece.data(), piece.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            x_printf("read(%s) fail %s(%d)\n", path, std::strerror(errno), errno);
            return "";
        }
        if (n == 0)
            break;
        api->update(ctx.get(), piece.data(), static_cast<size_t>(n));
    }
    if (cnxd_stopping())
        return "";  // a file that never ends, cut short by the stop
    uint8_t md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    api->final(ctx.get(), md, &len);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(two, sizeof two, "%02x", md[i]);
        hex += two;
    }
    return hex;
}
#else
std::string file_sha256(const char*)
{
    x_printf("sha256: not built in (no libcrypto for this target)\n");
    return "";
}
#endif

int x_sha256(int argc, char** argv)
{
    if (argc < 2) {
        x_printf("no given file path\n");
        return 0;
    }
    if (const std::string digest = file_sha256(argv[1]); !digest.empty())
        x_printf("%s's sha256: %s\n", argv[1], digest.c_str());
    return 0;
}

// ---- var

// The SDK's interface switches by their short names; exactly one of the
// two addresses is set.
struct sdk_var {
    const char* name;
    const char* fmt;
    uint32_t* word;
    int32_t* signed_word;
};
constexpr sdk_var SDK_VARS[] = {
    {"6ac", "ipv6_addr_chk=%u\n", &ipv6_addr_chk, nullptr},
    {"6dac", "ipv6_dns_addr_chk=%u\n", &ipv6_dns_addr_chk, nullptr},
    {"noradvdapn", "ipv6_no_radvd_apn=0x%08x\n", &ipv6_no_radvd_apn, nullptr},
    {"gw1", "lte_gateway_1=%u\n", &lte_gateway_1, nullptr},
    {"subnetc", "lte_subnet_class_c=%u\n", &lte_subnet_class_c, nullptr},
    {"vifaddr", "ipv4_vif_addr=%d\n", nullptr, &ipv4_vif_addr},
};

void print_var(const sdk_var& v)
{
    if (v.word)
        x_printf(v.fmt, *v.word);
    else
        x_printf(v.fmt, *v.signed_word);
}

int x_var(int argc, char** argv)
{
    const sdk_var* v = argc >= 2 ? std::ranges::find(SDK_VARS, std::string_view(argv[1]), &sdk_var::name) : nullptr;
    if (!v || v == std::end(SDK_VARS)) {
        for (const sdk_var& each : SDK_VARS)
            print_var(each);
        return 0;
    }
    if (argc >= 3 && v->word)
        *v->word = number(argv[2]);
    else if (argc >= 3)
        *v->signed_word = static_cast<int32_t>(std::strtol(argv[2], nullptr, 0));
    print_var(*v);
    return 0;
}

// ---- malloc

constexpr uint32_t MALLOC_SIZE = 1024;
constexpr uint32_t MALLOC_COUNT = 1;
constexpr uint8_t MALLOC_FILL = 0xA5;
constexpr uint64_t MB = 1024 * 1024;

// Under a host sysroot the kept blocks stop at this many bytes in all: the
// tool is a memory-pressure test of the router, and on a host it must not
// take the host's memory. 64 MiB is about what a router has free, enough
// for the test's "total MB" lines; past it a block fails as on a full router.
// Each block counts at least malloc's smallest chunk and its list entry,
// so that a run of empty blocks is bounded too.
constexpr uint64_t HOST_KEPT_MAX = 64 * MB;
constexpr uint64_t BLOCK_MIN_COST = 32;

// The kept blocks, in a list of malloc's own so that running out of memory
// ends the test instead of the daemon.
std::mutex kept_lock;
void** kept = nullptr;
size_t kept_count = 0;
size_t kept_room = 0;
uint64_t kept_bytes = 0;

// Adds `block` to the list; kept_lock is held.
bool keep(void* block)
{
    if (kept_count == kept_room) {
        const size_t room = kept_room ? kept_room * 2 : 64;
        void* grown = std::realloc(static_cast<void*>(kept), room * sizeof(void*));
        if (!grown)
            return false;
        kept = static_cast<void**>(grown);
        kept_room = room;
    }
    kept[kept_count++] = block;
    return true;
}

// A block of `size` bytes, kept for good; null when none is to be had.
void* take_block(uint32_t size)
{
    std::lock_guard g(kept_lock);
    const uint64_t cost = std::max<uint64_t>(size, BLOCK_MIN_COST);
    if (!cnxd_root().empty() && kept_bytes + cost > HOST_KEPT_MAX)
        return nullptr;
    void* block = std::malloc(size);
    if (!block || !keep(block)) {
        std::free(block);
        return nullptr;
    }
    kept_bytes += cost;
    return block;
}

int x_malloc(int argc, char** argv)
{
    const uint32_t size = argc >= 2 ? number(argv[1]) : MALLOC_SIZE;
    const uint32_t count = argc >= 3 ? number(argv[2]) : MALLOC_COUNT;
    const uint32_t fill = argc >= 4 ? number(argv[3]) : 0;
    x_printf("malloc: size=%u cnt=%u mset=%u\n", size, count, fill);
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        void* block = take_block(size);
        if (!block) {
            x_printf("[%u] malloc(%u) fail\n", i, size);
            break;
        }
        if (fill)
            std::memset(block, MALLOC_FILL, size);
        const uint64_t before = total / MB;
        total += size;
        if (total / MB != before)
            x_printf("[%u] malloc(%u)=0x%08x total %uMB\n", i, size,
                     static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block)), static_cast<uint32_t>(total / MB));
    }
    x_printf("done\n");
    return 0;
}

// ---- nv, nvl

constexpr const char* NV_RAM_IMAGE_LIST = "ls -al /var/tmp/cmnnvr.bin";

int x_nv(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "cmnf") != 0) {
        x_printf("not supported option\n");
        return 0;
    }
    cmn_nv_ram_flush();
    cnxd_system(NV_RAM_IMAGE_LIST);
    return 0;
}

int x_nvl(int argc, char** argv)
{
    if (argc >= 2)
        nv_set_log_mask(number(argv[1]));
    x_printf("nv log mask: 0x%08x\n", nv_get_log_mask());
    return 0;
}

// ---- mem

// The physical memory device. On a host it is the sysroot's file
// (scripts/mkroot makes a small one), never the host's own.
constexpr const char* MEM_DEVICE = "/dev/mem";
constexpr uint32_t WORD = 4;
constexpr size_t DUMP_WORDS_PER_LINE = 4;
constexpr int MEM_VALUES_AT = 3;  // "wm" address value...

// A mapping of whole words of the memory device.
class MemWords {
public:
    MemWords(uint32_t addr, uint32_t words, bool write) : addr_(addr), words_(words)
    {
        std::string host;
        UniqueFd fd(x_open_device(MEM_DEVICE, (write ? O_RDWR : O_RDONLY) | O_SYNC, &host));
        if (!fd) {
            x_printf("open(%s) fail %s(%d)\n", MEM_DEVICE, std::strerror(errno), errno);
            return;
        }
        const uint64_t end = static_cast<uint64_t>(addr) + uint64_t{words} * WORD;
        // A plain file (a host's stand-in) maps only as far as it reaches:
        // beyond its end the access would fault.
        struct stat st {};
        if (end > UINT32_MAX + uint64_t{1} ||
            (fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && end > static_cast<uint64_t>(st.st_size))) {
            x_printf("0x%08x+%u: outside %s\n", addr, words * WORD, MEM_DEVICE);
            return;
        }
        const auto page = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
        const uint32_t base = addr & ~(page - 1);
        len_ = static_cast<size_t>(end - base);
        // mmap64: on the 32-bit router the registers above 2 GiB do not
        // fit a plain off_t.
        void* p = mmap64(nullptr, len_, PROT_READ | (write ? PROT_WRITE : 0), MAP_SHARED, fd.get(),
                         static_cast<off64_t>(base));
        if (p == MAP_FAILED) {
            x_printf("mmap(0x%08x) fail %s(%d)\n", base, std::strerror(errno), errno);
            return;
        }
        map_ = p;
        at_ = reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(p) + (addr - base));
    }
    ~MemWords()
    {
        if (map_)
            munmap(map_, len_);
    }
    MemWords(const MemWords&) = delete;
    MemWords& operator=(const MemWords&) = delete;

    explicit operator bool() const { return map_ != nullptr; }
    volatile uint32_t& operator[](uint32_t i) { return at_[i]; }

    void dump()
    {
        for (uint32_t i = 0; i < words_; i += DUMP_WORDS_PER_LINE) {
            char line[96];
            int n = std::snprintf(line, sizeof line, "0x%08x:", addr_ + i * WORD);
            for (uint32_t k = i; k < words_ && k < i + DUMP_WORDS_PER_LINE; ++k)
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " %08x", at_[k]);
            x_printf("%s\n", line);
        }
    }

private:
    uint32_t addr_;
    uint32_t words_;
    void* map_ = nullptr;
    size_t len_ = 0;
    volatile uint32_t* at_ = nullptr;
};

void mem_usage()
{
    x_printf("Option:\n");
    x_printf("  vm: show memory value\n");
    x_printf("  wm: write value to memory\n");
}

// "vm ADDRESS [LENGTH]": one word, or the length raised to whole words.
void view_memory(uint32_t addr, int argc, char** argv)
{
    const uint32_t length = argc > MEM_VALUES_AT ? number(argv[MEM_VALUES_AT]) : 0;
    const uint32_t words = length ? length / WORD + (length % WORD ? 1 : 0) : 1;
    MemWords mem(addr, words, false);
    if (!mem)
        return;
    if (length)
        mem.dump();
    else
        x_printf("0x%08x: %08x\n", addr, mem[0]);
}

// "wm ADDRESS VALUE...": consecutive words from the address.
void write_memory(uint32_t addr, int argc, char** argv)
{
    if (argc <= MEM_VALUES_AT) {
        mem_usage();
        return;
    }
    const auto words = static_cast<uint32_t>(argc - MEM_VALUES_AT);
    MemWords mem(addr, words, true);
    if (!mem)
        return;
    const uint32_t old = mem[0];
    for (uint32_t i = 0; i < words; ++i)
        mem[i] = number(argv[MEM_VALUES_AT + static_cast<int>(i)]);
    if (words == 1)
        x_printf("0x%08x: %08x->%08x\n", addr, old, mem[0]);
    else
        mem.dump();
}

int x_mem(int argc, char** argv)
{
    const std::string_view op = argc >= 3 ? argv[1] : "";
    const uint32_t addr = argc >= 3 ? number(argv[2]) & ~(WORD - 1) : 0;
    if (op == "vm")
        view_memory(addr, argc, argv);
    else if (op == "wm")
        write_memory(addr, argc, argv);
    else
        mem_usage();
    return 0;
}

// ---- crash, assert, while, unaligned

// The fault injections stop or hang the daemon on purpose, to try the
// router's crash handling. Under a host sysroot they only say so: a host
// run (a test, the fuzz target) must never lose its daemon this way.
bool refused_on_host(const char* word)
{
    if (cnxd_root().empty())
        return false;
    x_printf("x %s: refused under a host sysroot (CNXD_ROOT=%s): it stops or hangs the daemon\n", word,
             cnxd_root().c_str());
    return true;
}

struct crash_kind {
    const char* option;
    void (*fault)();
};
constexpr crash_kind CRASH_KINDS[] = {
    {"segv", [] { *static_cast<volatile int*>(nullptr) = 0; }},
    {"abort", [] { std::abort(); }},
    {"fpe", [] { std::raise(SIGFPE); }},
};

int x_crash(int argc, char** argv)
{
    const std::string_view option = argc >= 2 ? argv[1] : "segv";
    const auto kind = std::ranges::find(CRASH_KINDS, option, &crash_kind::option);
    if (kind == std::end(CRASH_KINDS)) {
        x_printf("usage: x crash [segv|abort|fpe]\n");
        return 0;
    }
    if (!refused_on_host(argv[0]))
        kind->fault();
    return 0;
}

int x_assert(int, char** argv)
{
    if (refused_on_host(argv[0]))
        return 0;
    // Not assert(): the build defines NDEBUG.
    x_printf("%s:%d: x assert: forced assertion failure\n", __FILE__, __LINE__);
    std::abort();
}

int x_while(int, char** argv)
{
    if (refused_on_host(argv[0]))
        return 0;
    x_printf("x while: spinning for ever\n");
    for (volatile bool spin = true; spin;) {
    }
    return 0;
}

int x_unaligned(int, char** argv)
{
    if (refused_on_host(argv[0]))
        return 0;
    // A word load from an odd address, on purpose: the router's kernel
    // either fixes it up or faults, which is what this tries.
    alignas(4) static uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint32_t value = *reinterpret_cast<volatile uint32_t*>(bytes + 1);
    x_printf("x unaligned: 0x%08x\n", value);
    return 0;
}

// ---- the table

constexpr x_sub_cmd x_cmds[] = {
    {"test", x_test},     {"sha256", x_sha256}, {"var", x_var},     {"run", x_run},
    {"malloc", x_malloc}, {"mtdt", x_mtdt},     {"nvt", x_nvt},     {"nv", x_nv},
    {"nvl", x_nvl},       {"mem", x_mem},       {"tty", x_tty},     {"crash", x_crash},
    {"assert", x_assert}, {"while", x_while},   {"unaligned", x_unaligned},
};

constexpr bool words_unique()
{
    for (size_t i = 0; i < std::size(x_cmds); ++i)
        for (size_t k = i + 1; k < std::size(x_cmds); ++k)
            if (std::string_view(x_cmds[i].word) == x_cmds[k].word)
                return false;
    return true;
}
static_assert(std::size(x_cmds) == 15 && words_unique(), "fifteen sub-commands, each word once");

}  // namespace

const std::span<const x_sub_cmd> x_sub_tbl{x_cmds};

int cmd_x(int argc, char** argv)
{
    if (argc < 2) {
        x_printf("there is not command name\n");
        x_printf("%s: argc=%d\n", "cmd_x", argc);
        for (int i = 0; i < argc; ++i)
            x_printf("  argv[%d]=%s\n", i, argv[i]);
        return 0;
    }
    const auto sub = std::ranges::find(x_cmds, std::string_view(argv[1]), &x_sub_cmd::word);
    if (sub == std::end(x_cmds)) {
        x_printf("not fount command: x %s\n", argv[1]);
        return 0;
    }
    return sub->fn(argc - 1, argv + 1);
}

int x_open_device(const std::string& target, int flags, std::string* host_path)
{
    std::string host = cnxd_sysroot_path(target.starts_with('/') ? target : "/dev/" + target);
    const int fd = open(host.c_str(), flags | O_CLOEXEC);
    if (host_path)
        *host_path = std::move(host);
    return fd;
}

size_t x_malloc_release()
{
    std::lock_guard g(kept_lock);
    for (size_t i = 0; i < kept_count; ++i)
        std::free(kept[i]);
    const size_t released = kept_count;
    std::free(static_cast<void*>(kept));
    kept = nullptr;
    kept_count = kept_room = 0;
    kept_bytes = 0;
    return released;
}

}  // namespace cnxd
