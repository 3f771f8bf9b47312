// The capture file's bounds: rotation into FILE.1 and counted drops, read
// back block by block.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/be.h"
#include "base/capture.h"

namespace cnxd {
namespace {

struct Blocks {
    bool header = false;  // starts with a section header and one interface
    int records = 0;      // enhanced packet blocks that are not drop counts
    uint32_t dropped = 0; // the sum of the drop records
    size_t size = 0;
};

Blocks read_blocks(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    Blocks r;
    r.size = b.size();
    r.header = b.size() >= 48 && load_be32(b.data()) == 0x0A0D0D0A && load_be32(b.data() + 28) == 1 &&
               load_be16(b.data() + 36) == CAPTURE_LINKTYPE;
    for (size_t at = 48; at + 36 <= b.size(); at += load_be32(b.data() + at + 4)) {
        if (load_be32(b.data() + at) != 6 || load_be32(b.data() + at + 4) < 36)
            break;
        const uint8_t* data = b.data() + at + 28;
        if (data[0] == static_cast<uint8_t>(capture_kind::drops))
            r.dropped += load_be32(data + 4);
        else
            ++r.records;
    }
    return r;
}

TEST(Capture, FilesStayBoundedAndCountWhatTheyDrop)
{
    struct Case {
        const char* what;
        size_t rotate, queue;
        int records;
        bool rotated;
        int dropped;
    };
    const Case cases[] = {
        {"within bounds", CAPTURE_DEFAULT_ROTATE, CAPTURE_QUEUE_BYTES, 100, false, 0},
        {"rotates at its size", 4096, CAPTURE_QUEUE_BYTES, 50, true, 0},  // one rotation
        {"a full queue drops and counts", CAPTURE_DEFAULT_ROTATE, 16, 50, false, 50},
    };
    const uint8_t bytes[64] = {1, 2, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = "/tmp/cnxd-capture-test-" + std::to_string(getpid());
        ASSERT_EQ(capture_start(path.c_str(), c.rotate, c.queue), 0);
        for (int i = 0; i < c.records; ++i)
            capture({.kind = capture_kind::sdk_call, .index = 1, .name = "LAPI_Test", .bytes = bytes});
        capture_stop();
        const Blocks now = read_blocks(path);
        const Blocks before = read_blocks(path + ".1");
        EXPECT_TRUE(now.header);
        EXPECT_EQ(before.size != 0, c.rotated);
        if (c.rotated) {
            EXPECT_TRUE(before.header);
            EXPECT_LE(before.size, c.rotate);
            EXPECT_LE(now.size, c.rotate);
        }
        EXPECT_EQ(now.records + before.records, c.records - c.dropped);
        EXPECT_EQ(now.dropped, static_cast<uint32_t>(c.dropped));
        unlink(path.c_str());
        unlink((path + ".1").c_str());
    }
}

}  // namespace
}  // namespace cnxd
