# SPDX-License-Identifier: GPL-3.0-or-later
evm_add_app_test(tst_readback tst_readback.cpp)
# The tool changes the chip the window holds open, through the simulated board's state file.
target_compile_definitions(tst_readback PRIVATE EVM5170CTL_PATH="$<TARGET_FILE:evm5170ctl>")
add_dependencies(tst_readback evm5170ctl)
