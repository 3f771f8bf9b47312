// How many bytes of a request record the SDK reads, by the request size of
// the record's row in lapi.def: a fixed size, or a rule for records that
// carry their own length. The daemon's dispatcher and the simulator both
// size records through this one reader. Also the fixed record size of each
// callback (lapi_cb.def), which the simulator's answers and the daemon's
// callback table both read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/be.h"
#include "ltesdk.h"

// The size rules of lapi.def.
constexpr int LAPI_SIZE_TLV16 = -1;     // 4 + the 16-bit length at 2
constexpr int LAPI_SIZE_TRANSFER = -2;  // 260 + the 32-bit length at 256
constexpr int LAPI_SIZE_LEN8 = -3;      // 1 + the length byte at 0

// Binary transfer records: 256 name bytes, then the 32-bit length, the
// 16-bit image type and 8 more header bytes, then the data. A firmware
// record's length counts what follows the length field's own 4 bytes (10
// header bytes, then at most one 16384-byte chunk); an NV record's (image
// type 3) counts its data alone, at most 10240 bytes.
constexpr size_t LAPI_TRANSFER_LEN_FIELD = 256;
constexpr size_t LAPI_TRANSFER_TYPE_FIELD = 260;
constexpr size_t LAPI_TRANSFER_HEADER = 262;
constexpr uint32_t LAPI_TRANSFER_MIN_LEN = 10;
constexpr uint32_t LAPI_TRANSFER_MAX_LEN = 10 + 16384;
constexpr uint16_t LAPI_TRANSFER_NV_TYPE = 3;
constexpr uint32_t LAPI_TRANSFER_NV_MAX = 10240;

struct LapiSize {
    int request;  // bytes of the request record, 0 unknown, or a rule
    int answer;   // bytes written into the answer area
};

// The request and answer sizes of every SDK function, by its name.
namespace lapi_size {
#define LAPI_FN(name, form, request_size, answer_size) constexpr LapiSize name{request_size, answer_size};
#include "lapi.def"
#undef LAPI_FN
}  // namespace lapi_size

// The leading bytes of a record that hold its length under `rule`; 0 for a
// fixed size.
constexpr size_t lapi_record_head(int rule)
{
    switch (rule) {
    case LAPI_SIZE_TLV16:
        return 4;
    case LAPI_SIZE_TRANSFER:
        return LAPI_TRANSFER_HEADER;
    case LAPI_SIZE_LEN8:
        return 1;
    default:
        return 0;
    }
}

// The request size of `record` under `rule`: a fixed size as it is, a length
// rule read from the record's first lapi_record_head(rule) bytes (a transfer
// length is held to its bounds); 0 when the size is not known here.
constexpr size_t lapi_record_size(int rule, const uint8_t* record)
{
    switch (rule) {
    case LAPI_SIZE_TLV16:
        return 4 + size_t{cnxd::load_be16(record + 2)};
    case LAPI_SIZE_TRANSFER:
        if (cnxd::load_be16(record + LAPI_TRANSFER_TYPE_FIELD) == LAPI_TRANSFER_NV_TYPE)
            return LAPI_TRANSFER_LEN_FIELD + 4 + LAPI_TRANSFER_MIN_LEN +
                   std::min(cnxd::load_be32(record + LAPI_TRANSFER_LEN_FIELD), LAPI_TRANSFER_NV_MAX);
        return LAPI_TRANSFER_LEN_FIELD + 4 + std::clamp(cnxd::load_be32(record + LAPI_TRANSFER_LEN_FIELD),
                                                        LAPI_TRANSFER_MIN_LEN, LAPI_TRANSFER_MAX_LEN);
    case LAPI_SIZE_LEN8:
        return 1 + size_t{record[0]};
    default:
        return rule > 0 ? static_cast<size_t>(rule) : 0;
    }
}

// The record size of callback `cb_id` by lapi_cb.def: the bytes the SDK
// hands the callback (0: the device index alone), or LAPI_CB_SIZE_VARIES
// for a callback with no fixed size (its size depends on its contents, it
// has another form, or the id is not one of the table's).
constexpr int32_t LAPI_CB_SIZE_VARIES = -1;

constexpr int32_t lapi_cb_record_size(uint32_t cb_id)
{
    switch (cb_id) {
#define LAPI_CB(id, size) \
    case id:              \
        return size;
#include "lapi_cb.def"
    default:
        return LAPI_CB_SIZE_VARIES;
    }
}
