# Every test of every tree is a CTest test with labels, so that
# `ctest --preset TREE -L LABEL` runs one group (README.md, Tests):
#   native   GoogleTest programs of the native tree
#   e2e      end-to-end scripts (the packaging tool, the stubs it writes)
#   fuzz     the fuzz targets for a bounded time
#   windows  Win32 tests under wine64 (x86_64 tree)
#   win32    the shipped i686 stub under 32-bit Wine (i686 tree)
# Tests that run Win32 code (WINE) run in the tree's Wine session: a prefix,
# a virtual display and one persistent wineserver (tests/e2e/wine.sh),
# started by the fixture test wine_start and stopped by wine_stop.
set(UPD_WINE_SESSION ${CMAKE_SOURCE_DIR}/tests/e2e/wine.sh)

# upd_add_test(NAME LABELS label... [WINE] [TIMEOUT s] [SKIP_RETURN_CODE n]
#              COMMAND command...)
function(upd_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 T "WINE" "TIMEOUT;SKIP_RETURN_CODE" "LABELS;COMMAND")
  set(command ${T_COMMAND})
  if(T_WINE)
    set(command bash ${UPD_WINE_SESSION} run ${UPD_WINE_PREFIX} ${command})
  endif()
  add_test(NAME ${name} COMMAND ${command})
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
  if(T_SKIP_RETURN_CODE)
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE ${T_SKIP_RETURN_CODE})
  endif()
  if(T_WINE)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()

# upd_add_wine_session(LABELS [start-option...]): the Wine session's fixture
# for the tree's prefix UPD_WINE_PREFIX, started with wine.sh's options. Making a prefix takes minutes (the WoW64
# one most), hence the long limit.
function(upd_add_wine_session labels)
  add_test(NAME wine_start COMMAND bash ${UPD_WINE_SESSION} start ${UPD_WINE_PREFIX} ${ARGN})
  add_test(NAME wine_stop COMMAND bash ${UPD_WINE_SESSION} stop ${UPD_WINE_PREFIX})
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine LABELS "${labels}" TIMEOUT 3600)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine LABELS "${labels}")
endfunction()
