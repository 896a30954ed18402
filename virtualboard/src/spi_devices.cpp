// SPDX-License-Identifier: MIT
// The ready-made SPI peripheral models: a reply queue, an echo and a register file.

#include <deque>
#include <mutex>

#include "vboard/devices.hpp"

namespace vboard {

SpiDevice reply_queue_device(std::span<const std::uint8_t> replies) {
    auto queue = std::make_shared<std::deque<std::uint8_t>>(replies.begin(), replies.end());
    return [queue](std::span<const std::uint8_t> sent) {
        std::vector<std::uint8_t> answer;
        answer.reserve(sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            if (queue->empty()) {
                answer.push_back(0xFF);
            } else {
                answer.push_back(queue->front());
                queue->pop_front();
            }
        }
        return answer;
    };
}

SpiDevice echo_device() {
    return [](std::span<const std::uint8_t> sent) {
        return std::vector<std::uint8_t>(sent.begin(), sent.end());
    };
}

struct RegisterFile::Bank {
    mutable std::mutex mutex;
    std::array<std::uint8_t, kRegisters> values{};
    std::uint8_t read_bit = 0x80;
};

RegisterFile::RegisterFile(std::uint8_t read_bit) : bank_(std::make_shared<Bank>()) {
    bank_->read_bit = read_bit;
}

SpiDevice RegisterFile::device() const {
    return [bank = bank_](std::span<const std::uint8_t> sent) {
        std::vector<std::uint8_t> answer(sent.size(), 0x00);
        if (sent.empty()) {
            return answer;
        }
        std::lock_guard lock(bank->mutex);
        const bool read = (sent[0] & bank->read_bit) != 0;
        auto reg = static_cast<std::uint8_t>(sent[0] & ~bank->read_bit);
        for (std::size_t i = 1; i < sent.size(); ++i, ++reg) {
            if (read) {
                answer[i] = bank->values[reg];
            } else {
                bank->values[reg] = sent[i];
            }
        }
        return answer;
    };
}

std::uint8_t RegisterFile::value(std::uint8_t reg) const {
    std::lock_guard lock(bank_->mutex);
    return bank_->values[reg];
}

void RegisterFile::set_value(std::uint8_t reg, std::uint8_t value) {
    std::lock_guard lock(bank_->mutex);
    bank_->values[reg] = value;
}

std::uint8_t RegisterFile::read_bit() const { return bank_->read_bit; }

}  // namespace vboard
