// Firmware download and NV transfer against the simulated modem, with the
// indication handlers registered: what the modem receives, the call record
// of the transfer records, the progress lines the engineer reads, and the
// NV items and address changes that travel both ways. How a download ends
// when it goes wrong is tested end to end (tests/integration).
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "download/download.h"
#include "ind/ind.h"
#include "modem/device_tables.h"
#include "shell/shell_fixture.h"

namespace cnxd::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t HCI_SDK_CALLBACK_ID = 0x8107;
constexpr uint16_t UPLOAD_EVENT = 146;

// One transfer record as the modem got it.
struct Sent {
    uint32_t length;
    uint32_t offset;
    bool operator==(const Sent&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Sent& s)
{
    return o << "{" << s.length << ", 0x" << std::hex << s.offset << std::dec << "}";
}

constexpr uint32_t OK_END = 0xFFFFFFFE;

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + seed + i / 251);
    return b;
}

Bytes unhex(const std::string& hex) { return ltesim::from_hex(hex).value_or(Bytes{}); }

class Download : public ShellTest {
protected:
    Download()
    {
        setenv("CNXD_DOWNLOAD_WAIT_MS", "300", 1);
        ind_register(hAPI);
        cnxd_subscribe_all(subscriber_.get(), 1);
        calls();
        logs();
    }
    ~Download() override
    {
        download_stop_all();
        unsetenv("CNXD_DOWNLOAD_WAIT_MS");
    }

    // Starts a download of `image` to `dev` as the shell does.
    void start(uint32_t dev, const Bytes& image)
    {
        const std::string file = "/var/tmp/fw" + std::to_string(dev) + ".bin";
        root_.write(file, std::string(image.begin(), image.end()));
        // As the shell's command starts it (image type 1).
        std::string line = "download " + std::to_string(dev) + " 1 " + file;
        ASSERT_EQ(1, do_cmd(line.data())) << line;
    }
    // Waits until the devices' downloads have ended and their threads are
    // gone, then for the modem's last answers. Every device that downloads
    // is named: stopping ends all sessions.
    void finish(std::initializer_list<uint32_t> devs)
    {
        for (const uint32_t dev : devs)
            EXPECT_TRUE(eventually([&] { return downloading[dev] == 0; })) << dev;
        download_stop_all();
        sim("sync");
    }

    // The transfer records sent since the last look.
    std::vector<Sent> sent()
    {
        std::vector<Sent> out;
        for (const std::string& hex : texts_of(calls(), "LAPI_DownloadBinary")) {
            const Bytes rec = unhex(hex);
            out.push_back({load_be32(&rec[256]), load_be32(&rec[262])});
        }
        return out;
    }
    static Bytes image(uint32_t dev)
    {
        std::istringstream in(ltesim::control("image " + std::to_string(dev)));
        std::string ok, hex;
        size_t n = 0;
        in >> ok >> n >> hex;
        EXPECT_EQ("ok", ok);
        return unhex(hex);
    }
    std::string log_text()
    {
        std::string all;
        for (const std::string& l : logs())
            all += l;
        return all;
    }

    // The record of the binary upload answer forwarded to the subscriber.
    Bytes upload_answer()
    {
        for (int i = 0; i < 50; ++i) {
            const auto d = recv_datagram(subscriber_.get(), 100);
            if (d && d->size() > 12 && load_be16(d->data()) == HCI_SDK_CALLBACK_ID &&
                load_be16(&(*d)[4]) == UPLOAD_EVENT)
                return {d->begin() + 12, d->end()};
        }
        ADD_FAILURE() << "no upload answer forwarded";
        return {};
    }

    Session subscriber_ = open_session(7);
};

struct ImageCase {
    const char* name;
    size_t size;
    const char* knob;
    std::vector<Sent> records;  // empty: not checked
    std::vector<int> progress;
};

const ImageCase IMAGE_CASES[] = {
    {"two full chunks", 32768, nullptr, {{16394, 0}, {16394, 16384}, {10, 32768}, {14, OK_END}}, {50, 100}},
    {"a short last chunk", 32778, nullptr, {{16394, 0}, {16394, 16384}, {20, 32778}, {14, OK_END}}, {50, 100}},
    {"one short chunk", 100, nullptr, {{110, 100}, {14, OK_END}}, {}},
    {"twenty chunks", 20 * 16384, nullptr, {}, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
    {"answers before the call returns", 32768, "set download_early 1",
     {{16394, 0}, {16394, 16384}, {10, 32768}, {14, OK_END}}, {50, 100}},
};

TEST_F(Download, ImagesArriveWholeWithTheirOffsetsEndRecordAndProgress)
{
    for (const ImageCase& c : IMAGE_CASES) {
        SCOPED_TRACE(c.name);
        sim(c.knob ? c.knob : "set download_early 0");
        const Bytes img = pattern(c.size, 3);
        start(1, img);
        finish({1});
        EXPECT_EQ(img, image(1));
        const std::vector<Sent> records = sent();
        if (!c.records.empty()) {
            EXPECT_EQ(c.records, records);
        }
        Lines progress, printed;
        for (int p : c.progress)
            progress.push_back("dev(1) " + std::to_string(p) + "%[complete]\n");
        std::string log;
        for (const std::string& line : logs()) {
            log += line;
            if (line.starts_with("dev(1) "))
                printed.push_back(line);
        }
        EXPECT_EQ(progress, printed);
        EXPECT_NE(std::string::npos, log.find("\nDownload File /var/tmp/fw1.bin\n"));
        EXPECT_NE(std::string::npos, log.find("download complete [dev index : 1]\n")) << log;
        EXPECT_EQ(std::string::npos, log.find("Timeout"));
    }
}

TEST_F(Download, DevicesDownloadSideBySide)
{
    sim("set delay_ms 2");
    const Bytes a = pattern(5 * 16384 + 9, 11), b = pattern(4 * 16384 + 300, 77);
    start(1, a);
    start(2, b);
    finish({1, 2});
    EXPECT_EQ(a, image(1));
    EXPECT_EQ(b, image(2));
    const std::string log = log_text();
    for (const char* line : {"download complete [dev index : 1]\n", "download complete [dev index : 2]\n"})
        EXPECT_NE(std::string::npos, log.find(line)) << line;
}

TEST_F(Download, NvItemsGoToTheModemAndComeBackUnchanged)
{
    const std::filesystem::path dir = root_.path("/nvwork");
    std::filesystem::create_directories(dir / "nv_data");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    const char* files[] = {"lte_info", "board_conf", "rf_cal", "temp", "net_info"};
    for (int item = 1; item <= 5; ++item) {
        SCOPED_TRACE(item);
        const Bytes data = pattern(200 + 100 * static_cast<size_t>(item), static_cast<uint8_t>(item));
        root_.write("/nvwork/nv_data/" + std::string(files[item - 1]) + ".nv_data",
                    std::string(data.begin(), data.end()));
        EXPECT_EQ(0, cm_nv_download(1, item));
        EXPECT_EQ((std::vector<Sent>{{static_cast<uint32_t>(data.size()), static_cast<uint32_t>(item) << 8}}),
                  sent());
        EXPECT_EQ(0, cm_nv_upload(1, item));
        const Bytes answer = upload_answer();
        ASSERT_GE(answer.size(), 10u);
        EXPECT_EQ(data, Bytes(answer.begin() + 10, answer.end()));
    }
    calls();
    for (int item : {0, 6}) {
        EXPECT_EQ(-1, cm_nv_download(1, item));
        EXPECT_EQ(-1, cm_nv_upload(1, item));
    }
    EXPECT_EQ((Lines{}), calls()) << "items outside 1 to 5 reach no SDK call";
    std::filesystem::current_path(cwd);
}

struct ChangeCase {
    const char* name;
    bool mac;
    bool imei;
    const char* line;
    size_t at;  // where the new bytes land in the NV data
    Bytes bytes;
};

const Bytes NEW_MAC = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
// IMEI 490154203237518 as its 9 bytes.
const Bytes NEW_IMEI = {0x08, 0x4a, 0x09, 0x51, 0x24, 0x30, 0x32, 0x57, 0x81};

const ChangeCase CHANGE_CASES[] = {
    {"MAC", true, false, "change MAC Addreess 00-1e-42-00-00-01 -> 02-11-22-33-44-55\n", 88, NEW_MAC},
    {"IMEI", false, true, "change IMEI a350123456789012 -> a490154203237518\n", 16, NEW_IMEI},
    {"both: the MAC wins", true, true, "change MAC Addreess 00-1e-42-00-00-01 -> 02-11-22-33-44-55\n", 88, NEW_MAC},
};

// The modem's NV item 1: its IMEI (350123456789012) at 16, its MAC at 88.
std::string nv_item_1()
{
    Bytes nv(256, 0);
    const Bytes imei = {0x08, 0x3a, 0x05, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21};
    const Bytes mac = {0x00, 0x1e, 0x42, 0x00, 0x00, 0x01};
    std::ranges::copy(imei, nv.begin() + 16);
    std::ranges::copy(mac, nv.begin() + 88);
    return hex(nv.data(), nv.size());
}

TEST_F(Download, APendingAddressChangeIsWrittenIntoTheUploadedNvAndSentBackOnce)
{
    for (const ChangeCase& c : CHANGE_CASES) {
        SCOPED_TRACE(c.name);
        sim("nv 1 " + nv_item_1());
        if (c.mac)
            ind_set_change_mac_address(1, NEW_MAC.data());
        if (c.imei)
            ind_set_change_imei_address(1, NEW_IMEI.data());
        EXPECT_EQ(0, cm_nv_upload(1, 1));
        upload_answer();
        sim("sync");
        const Lines downloads = texts_of(calls(), "LAPI_DownloadBinary");
        ASSERT_EQ(1u, downloads.size());
        const Bytes rec = unhex(downloads[0]);
        ASSERT_EQ(270u + 0x306, rec.size());
        EXPECT_EQ((Bytes{0, 0, 3, 6, 0, 3, 0, 0, 1, 0}), Bytes(rec.begin() + 256, rec.begin() + 266));
        EXPECT_EQ(c.bytes, Bytes(rec.begin() + 270 + static_cast<long>(c.at),
                                 rec.begin() + 270 + static_cast<long>(c.at + c.bytes.size())));
        EXPECT_NE(std::string::npos, log_text().find(c.line));
        EXPECT_EQ(0, cm_nv_upload(1, 1));
        upload_answer();
        sim("sync");
        EXPECT_TRUE(texts_of(calls(), "LAPI_DownloadBinary").empty()) << "both changes were taken";
    }
}

}  // namespace
}  // namespace cnxd::test
