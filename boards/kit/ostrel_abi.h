// SPDX-License-Identifier: GPL-3.0-or-later
/* The interface between the program and a board library: five entries with the C
 * calling convention, 32-bit arguments and a 32-bit result. The program, the
 * simulated board and every other board library include this header; nothing
 * restates it. */
#ifndef OSTREL_ABI_H
#define OSTREL_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The C calling convention, named where a compiler could be told to take another: on 32-bit
 * Windows the vendor's DLL has its entries __cdecl (the caller pops the arguments), and a
 * program built with /Gz or -mrtd must still call them so. Elsewhere there is only one. */
#if defined(_WIN32) && !defined(_WIN64)
#define OSTREL_CALL __cdecl
#else
#define OSTREL_CALL
#endif

/* The record handed to _init, little-endian, 64 bytes. */
typedef struct OstrelConnectionSettings {
    int32_t interfaceCode; /* OSTREL_INTERFACE_IIC or OSTREL_INTERFACE_SPI */
    int32_t deviceAddress; /* IIC 0x44..0x47, SPI 0 */
    uint8_t unused1[48];
    int32_t word56; /* 3, set once at start-up; its meaning is the library's */
    uint8_t unused2[4];
} OstrelConnectionSettings;

/* On every target, 32-bit Windows among them: no padding, 32-bit words on 4-byte boundaries. */
#ifdef __cplusplus
static_assert(sizeof(int32_t) == 4 && alignof(OstrelConnectionSettings) == 4, "32-bit words");
static_assert(sizeof(OstrelConnectionSettings) == 64, "the record is 64 bytes");
static_assert(offsetof(OstrelConnectionSettings, interfaceCode) == 0, "interface code at 0");
static_assert(offsetof(OstrelConnectionSettings, deviceAddress) == 4, "device address at 4");
static_assert(offsetof(OstrelConnectionSettings, word56) == 56, "word 56 at 56");
#else
_Static_assert(sizeof(int32_t) == 4 && _Alignof(OstrelConnectionSettings) == 4, "32-bit words");
_Static_assert(sizeof(OstrelConnectionSettings) == 64, "the record is 64 bytes");
_Static_assert(offsetof(OstrelConnectionSettings, interfaceCode) == 0, "interface code at 0");
_Static_assert(offsetof(OstrelConnectionSettings, deviceAddress) == 4, "device address at 4");
_Static_assert(offsetof(OstrelConnectionSettings, word56) == 56, "word 56 at 56");
#endif

/* Interface codes of the record. */
enum { OSTREL_INTERFACE_IIC = 1, OSTREL_INTERFACE_SPI = 3 };

/* Channels of _readData and _writeData: the chip's registers, and the board's
 * numbered control lines (write only). */
enum { OSTREL_CHANNEL_CHIP = 0, OSTREL_CHANNEL_LINES = 7 };
enum { OSTREL_LINE_COUNT = 64 };

/* The buffer the program hands to _readData and _writeData; one byte is used. */
enum { OSTREL_TRANSFER_BUFFER_SIZE = 10 };

/* Result codes every board library shares. A library may add its own. */
enum {
    OSTREL_OK = 0,
    OSTREL_BAD_ARGUMENT = 0x0003,   /* a null buffer, a count other than 1 */
    OSTREL_BAD_CHANNEL = 0x0004,    /* a read on anything but channel 0, a write on anything but 0 and 7 */
    OSTREL_BAD_REGISTER = 0x0005,   /* a register or a line the library does not have */
    OSTREL_NO_ACKNOWLEDGE = 0x0101, /* nothing answered at the chip's address */
    OSTREL_NOT_OPEN = 0x0102,       /* before _init, after _close, no board, or the board was lost */
    OSTREL_TIMED_OUT = 0x0103,      /* no answer in time: the call may still have taken effect */
    OSTREL_SYSTEM_ERROR = 0x0200    /* plus errno: any other failure of the operating system */
};

/* The five entries. _init answers the port of the board it opened, 0 when there is none. */
typedef int32_t (OSTREL_CALL *OstrelInitFn)(int32_t port, OstrelConnectionSettings *settings);
typedef int32_t (OSTREL_CALL *OstrelCloseFn)(void);
typedef int32_t (OSTREL_CALL *OstrelDataFn)(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count);
typedef int32_t (OSTREL_CALL *OstrelVersionFn)(void);

/* Optional, beyond the five: how the library reaches the board (its devices, its lines), as
 * text for the tool's info. Copies the text and a terminating NUL into buffer as far as size
 * allows and answers the text's length; ostrel_describe(NULL, 0) asks for the length alone. */
#define OSTREL_DESCRIBE_ENTRY "ostrel_describe"
typedef int32_t (OSTREL_CALL *OstrelDescribeFn)(char *buffer, int32_t size);

/* Optional, beyond the five: why the library's last call failed, as one line of text for the
 * user (e.g. the server a remote board could not reach); empty when it has nothing to add.
 * Copies as ostrel_describe does. Every library built with the kit has it. */
#define OSTREL_LAST_ERROR_ENTRY "ostrel_last_error"
typedef int32_t (OSTREL_CALL *OstrelLastErrorFn)(char *buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif
