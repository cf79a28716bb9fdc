// What the fuzz targets share: the fuzzer's bytes read as fields, and the check that ends a run
// when a property fails.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "../support/recording_messages.h"

namespace torvane::fuzz {

// The input read front to back; past its end every field reads as zero and every run of bytes
// as empty.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    bool empty() const { return rest_.empty(); }
    std::uint8_t Byte() { return rest_.empty() ? 0 : Bytes(1)[0]; }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(U16() | U16() << 16); }
    // Up to count bytes.
    std::span<const std::uint8_t> Bytes(std::size_t count) {
        const std::span<const std::uint8_t> taken = rest_.first(std::min(count, rest_.size()));
        rest_ = rest_.subspan(taken.size());
        return taken;
    }
    // A 16-bit length, then up to that many bytes, in a block of their own size.
    std::vector<std::uint8_t> Section() {
        const std::span<const std::uint8_t> bytes = Bytes(U16());
        return {bytes.begin(), bytes.end()};
    }

private:
    std::span<const std::uint8_t> rest_;
};

// Ends the run as a crash, so that the fuzzer keeps the input, when a property does not hold.
inline void Require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "fuzz property failed: %s\n", property);
        std::abort();
    }
}

}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
