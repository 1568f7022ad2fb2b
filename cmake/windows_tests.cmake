# Windows test programs (x86_64 only), run under wine64 by CTest.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(pkgtool_win STATIC ${UPD_PKGTOOL_SOURCES})
target_include_directories(pkgtool_win PUBLIC ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(pkgtool_win PUBLIC updstub_lib)

file(GLOB UPD_WIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
add_executable(win_tests ${UPD_WIN_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/win/support.cpp)
target_include_directories(win_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
target_link_libraries(win_tests PRIVATE updstub_lib pkgtool_win gtest gtest_main)
target_link_options(win_tests PRIVATE -static)
target_compile_definitions(win_tests PRIVATE
  UPD_STUB_PATH="${UPD_DIST_DIR}/updstub-x86_64.exe")
add_dependencies(win_tests updstub)
# Installers in the wizard tests use the shipped default layouts.
include(${CMAKE_SOURCE_DIR}/tools/defaults/defaults.cmake)
add_dependencies(win_tests updpack_defaults)
target_compile_definitions(win_tests PRIVATE UPD_DEFAULTS_DIR="${UPD_DEFAULTS_OUT}")
add_test(NAME win_tests COMMAND win_tests --gtest_brief=1)
set_tests_properties(win_tests PROPERTIES TIMEOUT 1200)

# End to end through the packaging tool (native, built first by build.sh).
add_test(NAME package_run COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/package_run.sh ${UPD_DIST_DIR})
set_tests_properties(package_run PROPERTIES TIMEOUT 600)
