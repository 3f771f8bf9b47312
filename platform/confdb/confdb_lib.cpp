// The store's library side: reads straight from the store file (a set
// replaces it by rename, so a reader always sees one whole version) and
// from INI dumps.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/path.h"
#include "confdb.h"
#include "ini.h"

namespace {

// Callers hand in either the router's path or one they already put under
// the sysroot; map only the former.
std::string resolve(const char* path)
{
    const std::string& root = cnxd::cnxd_root();
    const std::string_view p(path);
    if (!root.empty() && p.starts_with(root) && p.size() > root.size() && p[root.size()] == '/')
        return std::string(p);
    return cnxd::cnxd_path(p);
}

// Copies at most `limit` characters and a terminator; returns the length.
int put_text(std::string_view text, char* out, int limit)
{
    const size_t n = std::min(text.size(), static_cast<size_t>(std::max(limit, 0)));
    std::copy_n(text.begin(), n, out);
    out[n] = '\0';
    return static_cast<int>(n);
}

std::vector<std::string> split_words(std::string_view path, char sep)
{
    std::vector<std::string> words;
    while (!path.empty()) {
        const size_t at = path.find(sep);
        if (at != 0)
            words.emplace_back(path.substr(0, at));
        if (at == std::string_view::npos)
            break;
        path.remove_prefix(at + 1);
    }
    return words;
}

// The node every modem setting getter reads.
const std::vector<std::string> kModemNode = {"config", "wan", "lte", "modem"};

int modem_setting(const char* key)
{
    auto text = confdb::read_text_file(confdb::Store::file_path());
    if (!text)
        return 0;
    const confdb::Store store(std::move(*text));
    const auto value = store.get(kModemNode, key);
    return value ? std::atoi(std::string(*value).c_str()) : 0;
}

}  // namespace

extern "C" int init_confdb_ex(void)
{
    return confdb::read_text_file(confdb::Store::file_path()) ? 0 : -1;
}

extern "C" int GetPrivateProfileString(const char* section, const char* key, const char* dflt,
                                       char* out, int limit, const char* path)
{
    if (!out || limit < 0)
        return -1;
    const std::string_view fallback = dflt ? dflt : "";
    if (!key || !path) {
        put_text(fallback, out, limit);
        return -1;
    }
    const auto text = confdb::read_text_file(resolve(path));
    if (!text) {
        put_text(fallback, out, limit);
        return -1;
    }
    const auto value = confdb::ini_find(*text, section ? section : "", key);
    return put_text(value ? *value : fallback, out, limit);
}

extern "C" int read_confdb_xml(int /*flags*/, const char* path, char* out)
{
    constexpr int kOutLimit = 255;
    if (!out)
        return -1;
    out[0] = '\0';
    if (!path)
        return -1;
    std::vector<std::string> node = split_words(path, '/');
    if (node.size() < 2)
        return -1;
    const std::string key = node.back();
    node.pop_back();
    auto text = confdb::read_text_file(confdb::Store::file_path());
    if (!text)
        return -1;
    const confdb::Store store(std::move(*text));
    const auto value = store.get(node, key);
    if (!value)
        return -1;
    put_text(*value, out, kOutLimit);
    return 0;
}

extern "C" int getInitialConfdbExtenedEarfcnConfig(void) { return modem_setting("ext_earfcn"); }
extern "C" int get_sms_timer_value(void) { return modem_setting("sms_timer"); }
extern "C" int get_sms_over_ims_config_value(void) { return modem_setting("sms_over_ims"); }
extern "C" int get_sms_save_config_value(void) { return modem_setting("sms_save"); }
extern "C" int get_keep_camp_on_after_detach_config_value(void)
{
    return modem_setting("keep_camp_on_after_detach");
}
extern "C" int get_ant_rx_mode_config_value(void) { return modem_setting("ant_rx_mode"); }
extern "C" int get_Intra_Band_CA_mode_config_value(void)
{
    return modem_setting("intra_band_ca_mode");
}
