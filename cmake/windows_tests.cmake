# Windows test programs (x86_64 only), run under wine64 by CTest (labels
# windows and e2e; cmake/testing.cmake).
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
upd_add_test(win_tests LABELS windows WINE TIMEOUT 1200
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:win_tests> --gtest_brief=1
  --gtest_filter=-Compressed.*:WizardDpi.PicturesTitleAndBarGrowWithTheDpi)
# The pictures at every DPI need a screen larger than the tests' own.
upd_add_test(wizard_dpi_large LABELS windows WINE TIMEOUT 600
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/large_screen.sh
  $<TARGET_FILE:win_tests> WizardDpi.PicturesTitleAndBarGrowWithTheDpi)

# End to end through the packaging tool (the native tree's updpack in
# UPD_DIST_DIR).
upd_add_test(package_run LABELS windows e2e WINE TIMEOUT 600
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/package_run.sh ${UPD_DIST_DIR})

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
target_link_libraries(torture PRIVATE updstub_lib pkgtool_win testcommon wizard_driver)
target_link_options(torture PRIVATE -static)
target_compile_definitions(torture PRIVATE UPD_STUB_PATH="${UPD_DIST_DIR}/updstub-x86_64.exe"
  UPD_ENGINE_RUNNER_PATH="$<TARGET_FILE:engine_runner>")
add_dependencies(torture engine_runner updstub)

# Packages with compressed streams come from the native tree's helper (the
# Windows programs have no compressor): UPD_MAKE_PACKAGES, which the x86_64
# preset points at the native tree's make_packages.
set(UPD_MAKE_PACKAGES "" CACHE FILEPATH "the native tree's make_packages (tests/handover)")
if(NOT UPD_MAKE_PACKAGES)
  message(FATAL_ERROR "UPD_MAKE_PACKAGES is not set: configure with `cmake --preset x86_64`, "
    "or give the path of the native tree's make_packages")
endif()
set(UPD_HANDOVER_DIR ${CMAKE_BINARY_DIR}/handover)
target_compile_definitions(win_tests PRIVATE UPD_HANDOVER_DIR="${UPD_HANDOVER_DIR}")
upd_add_test(compressed_packages LABELS windows
  COMMAND ${UPD_MAKE_PACKAGES} ${UPD_HANDOVER_DIR} ${UPD_DIST_DIR}/updstub-x86_64.exe)
set_tests_properties(compressed_packages PROPERTIES FIXTURES_SETUP handover)
upd_add_test(win_compressed LABELS windows WINE TIMEOUT 600
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:win_tests> --gtest_brief=1 --gtest_filter=Compressed.*)
set_tests_properties(win_compressed PROPERTIES FIXTURES_REQUIRED "handover;wine")

# An update from two earlier versions, built by updpack and run by the engine.
upd_add_test(update_run LABELS windows e2e WINE TIMEOUT 600
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/update_run.sh ${UPD_DIST_DIR} $<TARGET_FILE:engine_runner>)

# Unattended updates of the sample (/Q, /D=, /L=) with the real stub.
upd_add_test(quiet_run LABELS windows e2e WINE TIMEOUT 600
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/quiet_run.sh ${UPD_DIST_DIR})

# Projects in German (code page 1252) and Japanese (932), built by updpack
# and walked under wine64 in the matching locale.
upd_add_test(codepage_run LABELS windows e2e WINE TIMEOUT 900
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/codepage_run.sh ${UPD_DIST_DIR} $<TARGET_FILE:wizard_walk>)

# The session every test above runs in; drive R: of the prefix is a floppy
# drive over build/removable, for the removable-disk tests.
upd_add_wine_session(windows --floppy ${CMAKE_SOURCE_DIR}/build/removable)
