evm_add_app_test(tst_export tst_export.cpp)
