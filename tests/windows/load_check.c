// SPDX-License-Identifier: GPL-3.0-or-later
/* load_check.exe DLL TRACE: what loading a board library does before its first call, and what
 * the first call does. Prints one line after LoadLibrary and one after _init and _close: whether
 * Winsock is started in the process (a socket can be made) and whether the trace file exists.
 * Nothing of either may happen at load: the system runs a DLL's start-up under its loader lock. */
#include <stdio.h>
#include <string.h>
#include <winsock2.h>
#include <windows.h>

#include "ostrel_abi.h"

static void report(const char *when, const char *trace)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const int winsock = s != INVALID_SOCKET || WSAGetLastError() != WSANOTINITIALISED;
    if (s != INVALID_SOCKET)
        closesocket(s);
    const int traced = GetFileAttributesA(trace) != INVALID_FILE_ATTRIBUTES;
    printf("%s: winsock %s, trace %s\n", when, winsock ? "started" : "not started", traced ? "written" : "absent");
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fputs("usage: load_check DLL TRACE\n", stderr);
        return 2;
    }
    HMODULE dll = LoadLibraryExA(argv[1], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!dll) {
        fprintf(stderr, "load_check: cannot load %s: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    report("loaded", argv[2]);
    OstrelInitFn init = (OstrelInitFn)(void *)GetProcAddress(dll, "_init");
    OstrelCloseFn close = (OstrelCloseFn)(void *)GetProcAddress(dll, "_close");
    if (!init || !close) {
        fputs("load_check: no _init or _close\n", stderr);
        return 2;
    }
    OstrelConnectionSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.interfaceCode = OSTREL_INTERFACE_SPI;
    settings.word56 = 3;
    init(0, &settings);
    close();
    report("called", argv[2]);
    FreeLibrary(dll);
    return 0;
}
