// SPDX-License-Identifier: GPL-3.0-or-later
#include "scpi/status.h"

#include "scpi/errors.h"

#include <algorithm>

namespace evm::scpi {

void Status::push(int code, std::string_view info)
{
    std::string text = errorText(code);
    if (!info.empty())
        text.append(1, ';').append(info);
    std::replace(text.begin(), text.end(), '"', '\''); // the text is one quoted string
    if (isCommandError(code))
        m_esr |= 0x20;
    else if (isExecutionError(code))
        m_esr |= 0x10;
    else if (isDeviceError(code))
        m_esr |= 0x08;
    if (m_errors.size() < size_t(QueueSize)) {
        m_errors.push_back({code, std::move(text)});
    } else {
        m_errors.back() = {QueueOverflow, errorText(QueueOverflow)};
        m_esr |= 0x08;
    }
}

std::string Status::next()
{
    if (m_errors.empty())
        return std::to_string(int(NoError)) + ",\"" + errorText(NoError) + '"';
    const Queued e = std::move(m_errors.front());
    m_errors.pop_front();
    return std::to_string(e.code) + ",\"" + e.text + '"';
}

void Status::clear()
{
    m_errors.clear();
    m_esr = 0;
}

uint8_t Status::statusByte() const
{
    uint8_t stb = 0;
    if (!m_errors.empty())
        stb |= 0x04; // error queue not empty
    if (m_esr & eventEnable)
        stb |= 0x20; // event status summary
    if (stb & serviceEnable)
        stb |= 0x40; // master summary
    return stb;
}

} // namespace evm::scpi
