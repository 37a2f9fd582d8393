# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -DREADELF=readelf -DLIBRARY=libX.so -DREQUIRED=a,b -DALLOWED=a,b,prefix_* -P CheckBoardLibrary.cmake
# Fails unless LIBRARY exports every REQUIRED function, exports nothing that no ALLOWED glob
# matches, and has no DT_INIT entry (the loader would run the board's _init when loading it).
cmake_minimum_required(VERSION 3.19)
foreach(variable READELF LIBRARY REQUIRED ALLOWED)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "CheckBoardLibrary: ${variable} not given")
  endif()
endforeach()
string(REPLACE "," ";" required "${REQUIRED}")
string(REPLACE "," ";" allowed "${ALLOWED}")

execute_process(COMMAND ${READELF} --wide --dyn-syms --dynamic ${LIBRARY}
  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READELF} failed on ${LIBRARY}: ${errors}")
endif()

set(problems)
if(output MATCHES "\\(INIT\\)")
  list(APPEND problems "has a DT_INIT entry")
endif()

# Defined dynamic symbols with global or weak binding are what dlsym can find:
#   Num: Value Size Type Bind Vis Ndx Name
string(REPLACE "\n" ";" lines "${output}")
set(exported)
foreach(line IN LISTS lines)
  if(line MATCHES "^ *[0-9]+: +[0-9a-fA-F]+ +[0-9]+ +([A-Z_]+) +(GLOBAL|WEAK|UNIQUE) +[A-Z_]+ +([A-Z0-9]+) +([^ @]+)")
    if(NOT CMAKE_MATCH_3 STREQUAL "UND")
      list(APPEND exported "${CMAKE_MATCH_4}")
    endif()
  endif()
endforeach()

foreach(symbol IN LISTS required)
  if(NOT symbol IN_LIST exported)
    list(APPEND problems "lacks ${symbol}")
  endif()
endforeach()
foreach(symbol IN LISTS exported)
  set(ok FALSE)
  foreach(glob IN LISTS allowed)
    string(REPLACE "*" ".*" pattern "${glob}")
    string(REPLACE "?" "." pattern "${pattern}")
    if(symbol MATCHES "^${pattern}$")
      set(ok TRUE)
    endif()
  endforeach()
  if(NOT ok)
    list(APPEND problems "exports ${symbol}")
  endif()
endforeach()

list(LENGTH exported count)
if(problems)
  # One unwrapped line, for people and for the check's own test to read.
  list(JOIN problems "; " text)
  message(STATUS "${LIBRARY}: ${text}")
  message(FATAL_ERROR "${LIBRARY} is not a sound board library")
endif()
message(STATUS "${LIBRARY}: ${count} exported symbols, the entries ${REQUIRED} among them, no DT_INIT")
