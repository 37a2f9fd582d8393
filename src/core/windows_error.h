// SPDX-License-Identifier: GPL-3.0-or-later
// The system's own text for a Windows error code, one line, in the user's language.
#pragma once
#ifdef _WIN32
#include <string>

#include <windows.h>

namespace evm {

inline std::string windowsErrorText(unsigned long code)
{
    char *text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = n && text ? std::string(text, n) : "error " + std::to_string(code);
    if (text)
        ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

} // namespace evm
#endif
