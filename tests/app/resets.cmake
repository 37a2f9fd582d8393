evm_add_app_test(tst_resets tst_resets.cpp)
