# Native tree: packaging tool, platform-free core, tests, fuzzing, benchmarks.
set(UPD_DIST_DIR "${CMAKE_SOURCE_DIR}/build/dist" CACHE PATH "where finished products go")
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
pkg_check_modules(DIVSUFSORT REQUIRED IMPORTED_TARGET libdivsufsort)
# The reference the file digest is tested against (tests only).
pkg_check_modules(LIBXXHASH REQUIRED IMPORTED_TARGET libxxhash)
find_package(tomlplusplus REQUIRED)
find_package(CLI11 REQUIRED)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

set(UPD_WARNINGS -Wall -Wextra -Wno-unused-parameter)

add_library(updcore STATIC ${UPD_CORE_SOURCES} ${UPD_POSIX_SOURCES})
target_include_directories(updcore PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(updcore PRIVATE -O2 ${UPD_WARNINGS})

add_library(pkgtool STATIC ${UPD_PKGTOOL_SOURCES} ${UPD_PKGTOOL_POSIX_SOURCES})
target_include_directories(pkgtool PUBLIC ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/src)
target_compile_options(pkgtool PRIVATE -O2 ${UPD_WARNINGS})
target_compile_definitions(pkgtool PUBLIC UPD_HAVE_LIBDEFLATE=1 UPD_HAVE_DIVSUFSORT=1)
target_link_libraries(pkgtool PUBLIC updcore PkgConfig::LIBDEFLATE PkgConfig::DIVSUFSORT Threads::Threads)

# updpack's subcommands as a library, linked by the tool (its main) and the
# tests; the project reader finds the wizard's defaults beside updpack.
set(UPD_UPDPACK_LIB_SOURCES ${UPD_UPDPACK_SOURCES})
list(FILTER UPD_UPDPACK_LIB_SOURCES EXCLUDE REGEX "/updpack/main\\.cpp$")
add_library(updpack_lib STATIC ${UPD_UPDPACK_LIB_SOURCES})
target_include_directories(updpack_lib PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_compile_options(updpack_lib PRIVATE -O2 ${UPD_WARNINGS})
target_compile_definitions(updpack_lib PRIVATE UPD_DEFAULTS_DIR="${UPD_DIST_DIR}/defaults")
target_link_libraries(updpack_lib PUBLIC pkgtool tomlplusplus::tomlplusplus CLI11::CLI11)

add_executable(updpack ${CMAKE_SOURCE_DIR}/tools/updpack/main.cpp)
target_compile_options(updpack PRIVATE -O2 ${UPD_WARNINGS})
target_link_libraries(updpack PRIVATE updpack_lib)
add_custom_command(TARGET updpack POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UPD_DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:updpack> ${UPD_DIST_DIR}/updpack)
# The wizard's default layouts, texts and pictures go beside updpack.
include(${CMAKE_SOURCE_DIR}/tools/defaults/defaults.cmake)
add_dependencies(updpack updpack_defaults)
add_custom_command(TARGET updpack_defaults POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${UPD_DEFAULTS_OUT} ${UPD_DIST_DIR}/defaults)

# Generators and temporary folders shared by every test program (tests/common).
add_library(testcommon STATIC ${CMAKE_SOURCE_DIR}/tests/common/common.cpp
  ${CMAKE_SOURCE_DIR}/tests/common/tempdir_posix.cpp)
target_include_directories(testcommon PUBLIC ${CMAKE_SOURCE_DIR}/tests)

file(GLOB UPD_NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
list(APPEND UPD_NATIVE_TEST_SOURCES ${CMAKE_SOURCE_DIR}/tests/native/support.cpp)
add_executable(native_tests ${UPD_NATIVE_TEST_SOURCES})
target_include_directories(native_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/native)
target_link_libraries(native_tests PRIVATE pkgtool testcommon GTest::gtest GTest::gtest_main PkgConfig::LIBXXHASH)
# The wizard's defaults, init and regions are checked through the project
# reader; inspect on damaged installers, verify and diagnose in-process.
target_link_libraries(native_tests PRIVATE updpack_lib)
add_dependencies(native_tests updpack_defaults)
upd_add_test(native_tests LABELS native COMMAND native_tests --gtest_brief=1)

# The decoder with the 32-bit bit buffer of the shipped i686 stub, under the
# decoder's own tests and the compressor's round trips.
add_library(inflate_bits32 OBJECT ${CMAKE_SOURCE_DIR}/src/package/inflate.cpp)
target_include_directories(inflate_bits32 PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(inflate_bits32 PUBLIC UPD_BITWORD_32)
target_compile_options(inflate_bits32 PRIVATE -O2 ${UPD_WARNINGS})
add_executable(native_tests_bits32 ${CMAKE_SOURCE_DIR}/tests/native/inflate_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/native/compress_test.cpp ${CMAKE_SOURCE_DIR}/tests/native/support.cpp
  $<TARGET_OBJECTS:inflate_bits32>)
target_compile_definitions(native_tests_bits32 PRIVATE UPD_BITWORD_32)
target_include_directories(native_tests_bits32 PRIVATE ${CMAKE_SOURCE_DIR}/tests/native)
target_link_libraries(native_tests_bits32 PRIVATE updpack_lib testcommon GTest::gtest GTest::gtest_main)
upd_add_test(native_tests_bits32 LABELS native COMMAND native_tests_bits32 --gtest_brief=1)

# Native helper of the Windows tests: packages with compressed streams,
# handed over as files to the x86_64 tree (UPD_MAKE_PACKAGES there).
add_executable(make_packages ${CMAKE_SOURCE_DIR}/tests/handover/make_packages.cpp)
target_compile_options(make_packages PRIVATE -O2)
target_link_libraries(make_packages PRIVATE pkgtool testcommon)

# The packaging tool end to end, as a publisher runs it (the finished
# products in UPD_DIST_DIR: updpack, and both stubs from the Windows trees).
foreach(script build_inspect verify_run quickstart)
  upd_add_test(${script} LABELS e2e TIMEOUT 900 COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/${script}.sh ${UPD_DIST_DIR})
endforeach()

# The include rule of the layers (README, Architecture).
upd_add_test(include_layers LABELS native COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR}
  -P ${CMAKE_SOURCE_DIR}/tests/native/include_layers.cmake)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_subdirectory(tests/fuzz)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
