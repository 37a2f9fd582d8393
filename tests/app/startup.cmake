evm_add_app_test(tst_startup tst_startup.cpp)
