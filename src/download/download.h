// Firmware download into the modem and NV transfer. A firmware image goes
// to the modem in chunks on a thread of its own per device (a download
// session), each chunk waiting for the modem's binary download response;
// NV items go to the modem in one request and are asked back with one.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace cnxd {

// Per-device download tables hold this many entries.
constexpr size_t DOWNLOAD_DEVICE_TABLE_SIZE = 128;

// Non-zero while a firmware download to the device runs; the shell refuses
// every command naming the device meanwhile.
extern std::array<std::atomic<uint32_t>, DOWNLOAD_DEVICE_TABLE_SIZE> downloading;
// Stores `value` as the device's downloading word (ignored outside the table).
void downloading_set(uint32_t value, uint32_t dev);

// ---- The transfer record handed to LAPI_DownloadBinary (big-endian):
// the file name area, the length, the image type, the offset, four bytes
// the daemon leaves alone, then the data.
namespace transfer {
constexpr size_t NAME = 0;
constexpr size_t NAME_SIZE = 256;
constexpr size_t LENGTH = 256;
constexpr size_t TYPE = 260;
constexpr size_t OFFSET = 262;
constexpr size_t DATA = 270;
// Data bytes of one firmware chunk, and the record that carries it.
constexpr size_t CHUNK = 16384;
constexpr size_t FIRMWARE_SIZE = 17408;
// A firmware record's length counts the 10 header bytes after the length
// field's own; an NV record's counts its data.
constexpr uint32_t HEADER_LEN = 10;
// The record that ends a download: its length and the offsets that say how
// it went.
constexpr uint32_t END_LEN = 14;
constexpr uint32_t END_SUCCESS = 0xFFFFFFFE;
constexpr uint32_t END_FAILURE = 0xFFFFFFFD;
// NV records: their image type, the data room of one item and the record.
constexpr uint16_t NV_TYPE = 3;
constexpr size_t NV_DATA_MAX = 10240;
constexpr size_t NV_SIZE = 10511;
}  // namespace transfer

// Writes the length, type and offset fields of a transfer record of at
// least transfer::DATA bytes.
void transfer_header(std::span<uint8_t> rec, uint32_t length, uint16_t type, uint32_t offset);

// ---- Firmware download.

// The modem's binary download response codes.
constexpr int32_t DOWNLOAD_RSP_SUCCESS = 0;
constexpr int32_t DOWNLOAD_RSP_FAIL = 1;
constexpr int32_t DOWNLOAD_RSP_CRC_ERROR = 2;

// What a firmware download sends: the image file (a path under the
// sysroot), its image type as the modem knows it.
struct download_request {
    std::string file;
    uint16_t type = 0;
};

// Starts the device's download session on a thread of its own. The caller
// has set the device's downloading word to 1; the session clears it when it
// ends: after the modem's answer to its end record, or as "download failed"
// when anything before went wrong or that answer did not come within the
// chunk wait (a missing file ends it with "file open fail" alone). A
// session that has ended but whose thread is still on its way
// out is waited for (up to the chunk wait), so a retry right after a failure
// starts. 0 when the thread runs; -1 for a device outside the table, for a
// device whose previous session still downloads, or when no thread could be
// started.
int run_download(uint32_t dev, download_request req);

// The modem's binary download response for the device: the running
// session's chunk or end record is answered; an answer no session waits
// for is reported as a download's result, unless the last session failed
// (then the modem's late answer says nothing). Called on the SDK callback
// thread.
void continue_download(int32_t code, uint32_t dev);

// The device was removed: its running session ends at its next wait (or
// its end record's wait) as "download failed", and the device's
// downloading word is cleared whatever the session does. It does not wait
// for the thread: it is called on the SDK callback thread, which the
// session may itself be waiting for inside an SDK call; the thread ends by
// itself and is joined by the next run_download of the device or by
// download_stop_all.
void download_terminate(uint32_t dev);

// Ends every session and joins every download thread (daemon shutdown,
// after the command shell has stopped, while the SDK is still open).
void download_stop_all();

// ---- NV transfer of items 1 to 5.

// Sends the item's file ("nv_data/<item file>", relative to the working
// directory) to the modem; the SDK's result, or -1 for another item or a
// file that cannot be opened.
int cm_nv_download(uint32_t dev, int item);
// Asks the modem for the item's data, which come back in the binary upload
// response; the SDK's result, or -1 for another item.
int cm_nv_upload(uint32_t dev, int item);

}  // namespace cnxd
