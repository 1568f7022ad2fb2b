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

add_executable(updpack ${UPD_UPDPACK_SOURCES})
target_compile_options(updpack PRIVATE -O2 ${UPD_WARNINGS})
target_link_libraries(updpack PRIVATE pkgtool tomlplusplus::tomlplusplus CLI11::CLI11)
add_custom_command(TARGET updpack POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UPD_DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:updpack> ${UPD_DIST_DIR}/updpack)
# The wizard's default layouts, texts and pictures go beside updpack.
include(${CMAKE_SOURCE_DIR}/tools/defaults/defaults.cmake)
add_dependencies(updpack updpack_defaults)
target_compile_definitions(updpack PRIVATE UPD_DEFAULTS_DIR="${UPD_DIST_DIR}/defaults")
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
add_test(NAME native_tests COMMAND native_tests --gtest_brief=1)
# The wizard's defaults, init and regions are checked through the project
# reader; inspect on damaged installers, verify and diagnose in-process.
target_sources(native_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/updpack/project.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/rules.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/texts.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/windres.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/init.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/regions.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/inspect.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/verify.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/inspect_walk.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/inspect_files.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/session.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/diagnose.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/build.cpp)
target_include_directories(native_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(native_tests PRIVATE tomlplusplus::tomlplusplus)
target_compile_definitions(native_tests PRIVATE UPD_DEFAULTS_DIR="${UPD_DEFAULTS_OUT}")
add_dependencies(native_tests updpack_defaults)

# The decoder with the 32-bit bit buffer of the shipped i686 stub, under the
# decoder's own tests and the compressor's round trips.
add_library(inflate_bits32 OBJECT ${CMAKE_SOURCE_DIR}/src/package/inflate.cpp)
target_include_directories(inflate_bits32 PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(inflate_bits32 PUBLIC UPD_BITWORD_32)
target_compile_options(inflate_bits32 PRIVATE -O2 ${UPD_WARNINGS})
add_executable(native_tests_bits32 ${CMAKE_SOURCE_DIR}/tests/native/inflate_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/native/compress_test.cpp ${CMAKE_SOURCE_DIR}/tests/native/support.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/project.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/rules.cpp
  ${CMAKE_SOURCE_DIR}/tools/updpack/texts.cpp ${CMAKE_SOURCE_DIR}/tools/updpack/windres.cpp $<TARGET_OBJECTS:inflate_bits32>)
target_compile_definitions(native_tests_bits32 PRIVATE UPD_BITWORD_32)
target_include_directories(native_tests_bits32 PRIVATE ${CMAKE_SOURCE_DIR}/tests/native ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(native_tests_bits32 PRIVATE pkgtool testcommon GTest::gtest GTest::gtest_main tomlplusplus::tomlplusplus)
add_test(NAME native_tests_bits32 COMMAND native_tests_bits32 --gtest_brief=1)

# The include rule of the layers (README, Architecture).
add_test(NAME include_layers COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR}
  -P ${CMAKE_SOURCE_DIR}/tests/native/include_layers.cmake)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_subdirectory(tests/fuzz)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
