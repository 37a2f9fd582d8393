/* ctrl_break.exe PROGRAM [ARGUMENTS]: runs PROGRAM in a process group of its own on this
 * console, and when a line arrives on standard input sends the group Ctrl+Break, as a user
 * pressing it would; exits with the program's status. For the tests under Wine, which have no
 * keyboard to press it with. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(void)
{
    /* The program's command line: ours, less our own name. */
    const char *line = GetCommandLineA();
    int quoted = 0;
    while (*line && (quoted || (*line != ' ' && *line != '\t'))) {
        if (*line == '"')
            quoted = !quoted;
        ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    if (!*line) {
        fputs("usage: ctrl_break PROGRAM [ARGUMENTS]\n", stderr);
        return 2;
    }
    /* A console to share: the event reaches only processes attached to the sender's. */
    if (!GetConsoleWindow() && !AttachConsole(ATTACH_PARENT_PROCESS))
        AllocConsole();
    char *command = _strdup(line);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, CREATE_NEW_PROCESS_GROUP, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "ctrl_break: cannot start %s: error %lu\n", command, GetLastError());
        return 2;
    }
    char text[64];
    if (fgets(text, sizeof text, stdin) && !GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pi.dwProcessId))
        fprintf(stderr, "ctrl_break: cannot send Ctrl+Break: error %lu\n", GetLastError());
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        fputs("ctrl_break: the program did not end within 60 s\n", stderr);
        TerminateProcess(pi.hProcess, 3);
        return 3;
    }
    DWORD status = 2;
    GetExitCodeProcess(pi.hProcess, &status);
    return (int)status;
}
