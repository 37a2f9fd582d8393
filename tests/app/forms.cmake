# SPDX-License-Identifier: GPL-3.0-or-later
# The main window's forms (frame and pages) and the multi-row tab bar. The test
# runs uic on the forms itself; the tab bar and PressableImage come from evm_gui.
set(EVM_MAIN_FORMS main page_dacadcfunc page_ioconfig page_dacoperation page_adcoperation
  page_dacatt page_adcatt page_statusflag page_analogpath)
list(TRANSFORM EVM_MAIN_FORMS PREPEND ${CMAKE_SOURCE_DIR}/src/app/forms/)
list(TRANSFORM EVM_MAIN_FORMS APPEND .ui)
evm_add_test(tst_forms tst_forms.cpp ${EVM_MAIN_FORMS})
set_target_properties(tst_forms PROPERTIES AUTOUIC_SEARCH_PATHS ${CMAKE_SOURCE_DIR}/src/app/forms)
target_link_libraries(tst_forms PRIVATE evm_gui Qt6::Widgets)
