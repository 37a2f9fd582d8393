evm_add_app_test(tst_soak tst_soak.cpp)
