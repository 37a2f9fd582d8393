# SPDX-License-Identifier: GPL-3.0-or-later
evm_add_app_test(tst_export tst_export.cpp)
