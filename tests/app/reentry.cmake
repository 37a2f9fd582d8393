evm_add_app_test(tst_reentry tst_reentry.cpp)
