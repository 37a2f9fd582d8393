// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <string>
#include <utility>

// The SCPI errors this instrument reports, each once: its name here, its number, its text.
namespace evm::scpi {

#define EVM_SCPI_ERRORS(X)                                        \
    X(NoError, 0, "No error")                                     \
    X(CommandError, -100, "Command error")                        \
    X(SyntaxError, -102, "Syntax error")                          \
    X(ParameterNotAllowed, -108, "Parameter not allowed")         \
    X(MissingParameter, -109, "Missing parameter")                \
    X(UndefinedHeader, -113, "Undefined header")                  \
    X(CommandProtected, -203, "Command protected")                \
    X(SettingsConflict, -221, "Settings conflict")                \
    X(DataOutOfRange, -222, "Data out of range")                  \
    X(IllegalParameterValue, -224, "Illegal parameter value")     \
    X(HardwareError, -240, "Hardware error")                      \
    X(QueueOverflow, -350, "Queue overflow")

enum Error {
#define EVM_SCPI_ERROR_NAME(name, code, text) name = code,
    EVM_SCPI_ERRORS(EVM_SCPI_ERROR_NAME)
#undef EVM_SCPI_ERROR_NAME
};

// The SCPI text of an error number, e.g. "Undefined header"; "Error" for a number not above.
constexpr const char *errorText(int code)
{
#define EVM_SCPI_ERROR_TEXT(name, number, text) \
    if (code == number)                         \
        return text;
    EVM_SCPI_ERRORS(EVM_SCPI_ERROR_TEXT)
#undef EVM_SCPI_ERROR_TEXT
    return "Error";
}

// The classes of IEEE 488.2: a command error (-1xx) ends the line it is in; the others
// leave the rest of the line to run.
constexpr bool isCommandError(int code) { return code <= -100 && code > -200; }
constexpr bool isExecutionError(int code) { return code <= -200 && code > -300; }
constexpr bool isDeviceError(int code) { return code <= -300 && code > -400; }

// An error of the command being run, with what follows the error's text after ';' (may be
// empty); the session queues it.
struct Failure {
    int code;
    std::string info;
};

[[noreturn]] inline void fail(int code, std::string info = std::string())
{
    throw Failure{code, std::move(info)};
}

} // namespace evm::scpi
