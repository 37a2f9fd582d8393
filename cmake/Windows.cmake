# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows build: evm5170ctl.exe (the C++ runtime linked in, so it needs no DLL beyond
# Windows' own), the simulated board Ostrel.dll, OstrelRemote.dll, and the folder to copy to a
# PC with its zip. Included from the top CMakeLists.txt in place of the Linux build.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# Ostrel.dll, as the vendor names its library: no "lib" in front.
set(CMAKE_SHARED_LIBRARY_PREFIX "")

# Windows 7 and later; Asio needs the version to pick its socket calls.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)

# Asio's headers lie in /usr/include among glibc's, which must not reach the cross compiler:
# a folder of links to Asio alone.
set(EVM_ASIO_INCLUDE ${CMAKE_BINARY_DIR}/asio-include)
foreach(entry asio asio.hpp)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: install libasio-dev")
  endif()
  if(NOT EXISTS ${EVM_ASIO_INCLUDE}/${entry})
    file(MAKE_DIRECTORY ${EVM_ASIO_INCLUDE})
    file(CREATE_LINK /usr/include/${entry} ${EVM_ASIO_INCLUDE}/${entry} SYMBOLIC)
  endif()
endforeach()
include_directories(SYSTEM ${EVM_ASIO_INCLUDE})

enable_testing()
include(boards/kit/BoardLibrary.cmake)

add_subdirectory(src/core)
add_subdirectory(boards/sim)
add_subdirectory(boards/remote)
add_subdirectory(src/tools)
target_link_libraries(evm_ctl PUBLIC ws2_32 mswsock)
target_link_libraries(OstrelRemote PRIVATE ws2_32 mswsock)

# The folder to copy to a Windows PC, and its zip beside it.
set(EVM_WINDOWS_FOLDER ${CMAKE_BINARY_DIR}/evm5170-windows)
set(EVM_WINDOWS_ZIP ${CMAKE_BINARY_DIR}/evm5170-windows.zip)
add_custom_target(windows-folder ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${EVM_WINDOWS_FOLDER} ${EVM_WINDOWS_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${EVM_WINDOWS_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:evm5170ctl> $<TARGET_FILE:Ostrel> $<TARGET_FILE:OstrelRemote>
    ${CMAKE_SOURCE_DIR}/data/README-windows.txt ${EVM_WINDOWS_FOLDER}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}
    ${CMAKE_COMMAND} -E tar cf ${EVM_WINDOWS_ZIP} --format=zip evm5170-windows
  DEPENDS evm5170ctl Ostrel OstrelRemote ${CMAKE_SOURCE_DIR}/data/README-windows.txt
  COMMENT "The folder for a Windows PC: ${EVM_WINDOWS_FOLDER}, and its zip"
  VERBATIM)

# For the tests under Wine only, never in the folder: the server stopped by Ctrl+Break.
add_executable(serve_break tests/windows/serve_break.cpp)
target_link_libraries(serve_break PRIVATE evm_ctl evm_core)
# What loading a board library does before its first call.
add_executable(load_check tests/windows/load_check.c)
target_link_libraries(load_check PRIVATE ostrel_abi ws2_32)
