# SPDX-License-Identifier: GPL-3.0-or-later
evm_add_app_test(tst_monkey tst_monkey.cpp)
# More seeds where the sanitizers watch; EVM_MONKEY_SEED=n replays one.
if(EVM_SANITIZE)
  set_property(TEST tst_monkey APPEND PROPERTY ENVIRONMENT "EVM_MONKEY_SEEDS=12")
endif()
