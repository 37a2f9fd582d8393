# SPDX-License-Identifier: GPL-3.0-or-later
# The splash, script progress and About windows and the drawn pictures.
evm_add_test(tst_windows tst_windows.cpp)
target_link_libraries(tst_windows PRIVATE evm_gui Qt6::Widgets)
