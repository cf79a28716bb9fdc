#include "usb/request_block.h"

#include <algorithm>

namespace torvane {

RequestBlock::RequestBlock(std::size_t totalSize)
    : bytes_(std::max(totalSize, kHeaderSize), std::uint8_t{0}) {}

std::span<std::uint8_t> RequestBlock::Area(std::size_t offset, std::size_t count) {
    if (offset >= bytes_.size()) {
        return {};
    }
    return std::span<std::uint8_t>(bytes_).subspan(offset, std::min(count, bytes_.size() - offset));
}

}  // namespace torvane
