// SPDX-License-Identifier: MIT
// SPI0's transfers read back from its wires, for a capture of them (vboard/capture.hpp): behind a
// chip enable, MOSI and MISO are sampled at each rising edge of SCLK (modes 0 and 3), and each
// transfer, from the chip enable's fall to its rise, reaches the devices behind it and the
// listeners as one the controller made. A listener of the board; private to the library.
#ifndef VBOARD_SPI_WIRES_HPP
#define VBOARD_SPI_WIRES_HPP

#include <cstdint>
#include <optional>
#include <vector>

#include "device_set.hpp"
#include "engine.hpp"
#include "listener_list.hpp"

namespace vboard {

// A transfer being read from the wires.
struct SpiWireTransfer {
    int channel = 0;
    std::uint64_t start_ns = 0;
    std::vector<DeviceSlot *> reached;  // the devices selected as it began
    std::vector<std::uint8_t> out, in;
    std::vector<std::uint64_t> byte_ns;  // each byte's first bit
    std::uint8_t mosi = 0, miso = 0;
    int bits = 0;
};

class SpiWires final : public Listener {
  public:
    SpiWires(Engine &engine, ListenerList &listeners, DeviceSet &devices)
        : engine_(engine), listeners_(listeners), devices_(devices) {}

    // Decodes the transfers behind the chip enables in `chip_enables` (a bit per line) from now on.
    void watch(std::uint64_t chip_enables);

    void line_changed(const LineView &lines, int pin, bool level) override;

  private:
    void sample(const LineView &lines);
    void end(const LineView &lines);

    Engine &engine_;
    ListenerList &listeners_;
    DeviceSet &devices_;
    std::uint64_t chip_enables_ = 0;
    std::optional<SpiWireTransfer> transfer_;
    std::uint64_t first_bit_ns_ = 0;
};

}  // namespace vboard

#endif  // VBOARD_SPI_WIRES_HPP
