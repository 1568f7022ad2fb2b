# Windows test programs (x86_64 only), run under wine64 by CTest.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(pkgtool_win STATIC ${UPD_PKGTOOL_SOURCES} ${UPD_PKGTOOL_WIN32_SOURCES})
target_include_directories(pkgtool_win PUBLIC ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(pkgtool_win PUBLIC updstub_lib)

# Generators and temporary folders shared by every test program (tests/common).
add_library(testcommon STATIC ${CMAKE_SOURCE_DIR}/tests/common/common.cpp
  ${CMAKE_SOURCE_DIR}/tests/common/tempdir_win32.cpp)
target_include_directories(testcommon PUBLIC ${CMAKE_SOURCE_DIR}/tests)

file(GLOB UPD_WIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
add_executable(win_tests ${UPD_WIN_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/win/support.cpp
  ${CMAKE_SOURCE_DIR}/tests/win/wizard_support.cpp)
target_include_directories(win_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
target_link_libraries(win_tests PRIVATE updstub_lib pkgtool_win testcommon gtest gtest_main psapi)
target_link_options(win_tests PRIVATE -static)
target_compile_definitions(win_tests PRIVATE
  UPD_STUB_PATH="${UPD_DIST_DIR}/updstub-x86_64.exe")
add_dependencies(win_tests updstub)
# Installers in the wizard tests use the shipped default layouts.
include(${CMAKE_SOURCE_DIR}/tools/defaults/defaults.cmake)
add_dependencies(win_tests updpack_defaults)
target_compile_definitions(win_tests PRIVATE UPD_DEFAULTS_DIR="${UPD_DEFAULTS_OUT}")
# A version.dll that announces itself when loaded (tests/win/planted_version.cpp),
# in a folder of its own so that nothing loads it by accident.
add_library(planted_version SHARED ${CMAKE_SOURCE_DIR}/tests/win/planted_version.cpp)
set_target_properties(planted_version PROPERTIES PREFIX "" OUTPUT_NAME version
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
target_link_options(planted_version PRIVATE -static -s)
# A program that imports VERSION.dll statically: the tests' proof that such a
# program beside the planted DLL does load it.
add_executable(version_importer ${CMAKE_SOURCE_DIR}/tests/win/version_importer.cpp)
set_target_properties(version_importer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted)
target_link_libraries(version_importer PRIVATE version)
target_link_options(version_importer PRIVATE -static -s)
add_dependencies(win_tests planted_version version_importer)
target_compile_definitions(win_tests PRIVATE UPD_PLANTED_DLL_PATH="$<TARGET_FILE:planted_version>"
  UPD_VERSION_IMPORTER_PATH="$<TARGET_FILE:version_importer>")
# The wizard driver: runs installers like a user, for the tests and the demo.
include(${CMAKE_SOURCE_DIR}/cmake/wizard_driver.cmake)
target_link_libraries(win_tests PRIVATE wizard_driver)
add_test(NAME win_tests COMMAND win_tests --gtest_brief=1
  --gtest_filter=-Compressed.*:WizardDpi.PicturesTitleAndBarGrowWithTheDpi)
set_tests_properties(win_tests PROPERTIES TIMEOUT 1200)
# The pictures at every DPI need a screen larger than the tests' own.
add_test(NAME wizard_dpi_large COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/large_screen.sh
  $<TARGET_FILE:win_tests> WizardDpi.PicturesTitleAndBarGrowWithTheDpi)
set_tests_properties(wizard_dpi_large PROPERTIES TIMEOUT 600)

# End to end through the packaging tool (native, built first by build.sh).
add_test(NAME package_run COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/package_run.sh ${UPD_DIST_DIR})
set_tests_properties(package_run PROPERTIES TIMEOUT 600)

# The engine on its own, for tests that kill it in the middle of a run.
add_executable(engine_runner ${CMAKE_SOURCE_DIR}/tests/win/engine_runner.cpp)
target_link_libraries(engine_runner PRIVATE updstub_lib)
target_link_options(engine_runner PRIVATE -static)
add_dependencies(win_tests engine_runner)
target_compile_definitions(win_tests PRIVATE
  UPD_ENGINE_RUNNER_PATH="$<TARGET_FILE:engine_runner>")

# ./build.sh torture: many installations killed at chosen file operations.
add_executable(torture ${CMAKE_SOURCE_DIR}/tests/win/torture.cpp ${CMAKE_SOURCE_DIR}/tests/win/support.cpp)
target_include_directories(torture PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
target_link_libraries(torture PRIVATE updstub_lib pkgtool_win testcommon)
target_link_options(torture PRIVATE -static)
target_compile_definitions(torture PRIVATE UPD_STUB_PATH="${UPD_DIST_DIR}/updstub-x86_64.exe"
  UPD_ENGINE_RUNNER_PATH="$<TARGET_FILE:engine_runner>")
add_dependencies(torture engine_runner updstub)

# Packages with compressed streams come from the native tree's helper (the
# Windows programs have no compressor); the native tree is built first.
set(UPD_HANDOVER_DIR ${CMAKE_BINARY_DIR}/handover)
target_compile_definitions(win_tests PRIVATE UPD_HANDOVER_DIR="${UPD_HANDOVER_DIR}")
add_test(NAME compressed_packages COMMAND ${CMAKE_SOURCE_DIR}/build/native/bench/make_packages
  ${UPD_HANDOVER_DIR} ${UPD_DIST_DIR}/updstub-x86_64.exe)
set_tests_properties(compressed_packages PROPERTIES FIXTURES_SETUP handover)
add_test(NAME win_compressed COMMAND win_tests --gtest_brief=1 --gtest_filter=Compressed.*)
set_tests_properties(win_compressed PROPERTIES FIXTURES_REQUIRED handover TIMEOUT 600)

# An update from two earlier versions, built by updpack and run by the engine.
add_test(NAME update_run COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/update_run.sh ${UPD_DIST_DIR}
  $<TARGET_FILE:engine_runner>)
set_tests_properties(update_run PROPERTIES TIMEOUT 600)

# Unattended updates of the sample (/Q, /D=, /L=) with the real stub.
add_test(NAME quiet_run COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/quiet_run.sh ${UPD_DIST_DIR})
set_tests_properties(quiet_run PROPERTIES TIMEOUT 600)

# Projects in German (code page 1252) and Japanese (932), built by updpack
# and walked under wine64 in the matching locale.
add_test(NAME codepage_run COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/codepage_run.sh ${UPD_DIST_DIR}
  $<TARGET_FILE:wizard_walk>)
set_tests_properties(codepage_run PROPERTIES TIMEOUT 900)
