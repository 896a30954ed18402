// SPDX-License-Identifier: MIT
// The call log's ring.

#include "call_ring.hpp"

#include <algorithm>

namespace vboard {

void CallRing::clear() {
    slots_.clear();
    head_ = 0;
    size_ = 0;
}

CallRecord &CallRing::push(std::size_t capacity, std::uint64_t &dropped) {
    if (slots_.size() < capacity) {  // every slot holds a record: grow
        if (head_ != 0) {
            linearize();
        }
        ++size_;
        return slots_.emplace_back();
    }
    CallRecord &oldest = slots_[head_];
    head_ = (head_ + 1) % slots_.size();
    ++dropped;
    return oldest;
}

void CallRing::shrink_to(std::size_t capacity, std::uint64_t &dropped) {
    if (size_ <= capacity) {
        return;
    }
    linearize();
    const std::size_t excess = size_ - capacity;
    slots_.erase(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(excess));
    size_ = capacity;
    dropped += excess;
}

std::vector<CallRecord> CallRing::copy() const {
    std::vector<CallRecord> out;
    out.reserve(size_);
    for (std::size_t i = 0; i < size_; ++i) {
        out.push_back(slots_[(head_ + i) % slots_.size()]);
    }
    return out;
}

void CallRing::linearize() {
    std::rotate(slots_.begin(), slots_.begin() + static_cast<std::ptrdiff_t>(head_), slots_.end());
    head_ = 0;
}

}  // namespace vboard
