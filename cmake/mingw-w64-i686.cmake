# SPDX-License-Identifier: GPL-3.0-or-later
# 32-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-i686): the board vendor's access
# library is a 32-bit DLL, and a process loads only DLLs of its own width.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(EVM_MINGW_PREFIX i686-w64-mingw32)

# The POSIX threading flavour: std::thread and std::mutex, which Asio and the tool use.
find_program(CMAKE_C_COMPILER NAMES ${EVM_MINGW_PREFIX}-gcc-posix ${EVM_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${EVM_MINGW_PREFIX}-g++-posix ${EVM_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${EVM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${EVM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built for the target run through Wine.
find_program(EVM_WINE wine)
if(EVM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${EVM_WINE})
endif()
