// HCI frame decoding of one received datagram: the header fields come out
// in network order and the payload never reaches past what arrived.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "server/hci.h"
#include "support/check.h"

using cnxd::fuzz::expect;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto frame = cnxd::hci_decode(std::span<const uint8_t>(data, size));
    if (size < cnxd::HCI_HEADER_LEN) {
        expect(!frame, "no frame from a datagram shorter than a header");
        return 0;
    }
    expect(frame.has_value(), "a frame from every datagram with a header");
    expect(frame->id == ((data[0] << 8) | data[1]), "id read big-endian");
    expect(frame->len == ((data[2] << 8) | data[3]), "length read big-endian");
    expect(frame->payload.data() == data + cnxd::HCI_HEADER_LEN, "payload follows the header");
    expect(frame->payload.size() == std::min<size_t>(frame->len, size - cnxd::HCI_HEADER_LEN),
           "payload is the announced length, cut to what arrived");
    // Touch every payload byte: a span past the datagram shows up here.
    volatile uint8_t sum = 0;
    for (uint8_t b : frame->payload)
        sum = static_cast<uint8_t>(sum + b);
    return 0;
}
