// SPDX-License-Identifier: GPL-3.0-or-later
// Test-side API of the simulated board library (libOstrel.so).
// The program never calls these; in-process tests resolve them from the same
// loaded library the program uses, so both see one simulated board.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum OstrelSimFaultKind { OSTREL_SIM_FAULT_READ = 0, OSTREL_SIM_FAULT_WRITE = 1, OSTREL_SIM_FAULT_PIN = 2 };

// Power-on state: registers at their power-on values, every board line 0,
// board present, strapped IIC address 0x44, port 1, no faults, empty call log.
// Environment settings are not re-read.
void ostrel_sim_reset(void);
// 1: _init answers with the port; 0: _init returns 0 (no board).
void ostrel_sim_set_present(int present);
void ostrel_sim_set_port(int port);
void ostrel_sim_set_iic_address(int address);
void ostrel_sim_set_version(int version);
// Every call of kind after the first `after` successful ones fails with code;
// code 0 removes the fault of that kind.
void ostrel_sim_set_fault(int kind, int after, int code);
// Chip register value as the chip holds it (status flags included); -1 for an unknown register.
int ostrel_sim_register(int reg);
// Sets a register's stored value directly, bypassing the chip's write rules.
void ostrel_sim_poke(int reg, int value);
// Level last written to a board line, -1 if never written since reset.
int ostrel_sim_line(int pin);
// The call log: one line per library entry call, in the trace format; the latest calls only
// (past 1 MiB the older half goes), so it never grows without bound.
const char *ostrel_sim_log(void);
void ostrel_sim_clear_log(void);
void ostrel_sim_set_log_enabled(int enabled);
// Number of _init calls since reset that are still open (0 or 1).
int ostrel_sim_is_open(void);

#ifdef __cplusplus
}
#endif
