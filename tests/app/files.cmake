evm_add_app_test(tst_files tst_files.cpp)
