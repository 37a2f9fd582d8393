// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

// One client's error queue and its IEEE 488.2 status bytes.
namespace evm::scpi {

class Status
{
public:
    static constexpr int QueueSize = 32; // the last place is kept for "Queue overflow"

    // Queues an error and sets its event bit; info, when given, follows the text after ';'.
    void push(int code, std::string_view info = std::string_view());
    int queued() const { return int(m_errors.size()); }
    // The oldest queued error as SYSTem:ERRor? answers it, e.g. -113,"Undefined header;'X'",
    // and takes it off the queue; 0,"No error" when there is none.
    std::string next();

    // *CLS: the queue and the event status register.
    void clear();
    void operationComplete() { m_esr |= 0x01; }
    // *ESR?: the event status register, which reading clears.
    uint8_t takeEventStatus() { return std::exchange(m_esr, 0); }
    // *STB?: the status byte from the queue, the enabled events and the service request enable.
    uint8_t statusByte() const;

    uint8_t eventEnable = 0;   // *ESE
    uint8_t serviceEnable = 0; // *SRE (bit 6 never set)

private:
    struct Queued {
        int code;
        std::string text;
    };
    std::deque<Queued> m_errors;
    uint8_t m_esr = 0;
};

} // namespace evm::scpi
