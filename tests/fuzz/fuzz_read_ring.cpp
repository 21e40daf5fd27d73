// libFuzzer harness for the ring reader: any bytes as a ring's data area,
// any tail and head, must never be read out of bounds. Build with clang
// (-DCMAKE_CXX_COMPILER=clang++) and run build/tests/fuzz_read_ring.

#include "SwitchRecords.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kRing = 256;
    if (size < 4)
        return 0;
    // The first bytes place tail and head; the rest fill the ring.
    const std::uint64_t tail = data[0] | (data[1] << 8);
    const std::uint64_t head = tail + (data[2] | (data[3] << 8)) % (2 * kRing);
    std::vector<std::uint8_t> ring(kRing);
    std::memcpy(ring.data(), data + 4, std::min(size - 4, kRing));
    std::size_t taken = 0;
    const RingRead read = ReadRing(ring.data(), ring.size(), tail, head, [&](const unsigned char* record, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            taken += record[i];
        SwitchRecord decoded;
        DecodeSwitchRecord(record, n, decoded);
    });
    return read.tail == head ? 0 : -1;
}
