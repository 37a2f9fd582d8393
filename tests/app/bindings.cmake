evm_add_app_test(tst_bindings tst_bindings.cpp)
