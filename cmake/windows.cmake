# Windows trees (i686: the shipped stub; x86_64: the stub and its test
# programs under wine64).
set(UPD_DIST_DIR "${CMAKE_SOURCE_DIR}/build/dist" CACHE PATH "where finished products go")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(UPD_ARCH x86_64)
else()
  set(UPD_ARCH i686)
endif()

# The Wine prefix the tree's tests run in, made once and kept: a 64-bit one
# for the x86_64 tree, a WoW64 one (64-bit Wine with its 32-bit side) for the
# shipped stub, which sees what a 32-bit program on 64-bit Windows sees.
if(UPD_ARCH STREQUAL "x86_64")
  set(UPD_WINE_PREFIX "${CMAKE_SOURCE_DIR}/build/wine64" CACHE PATH "Wine prefix of the tests")
else()
  set(UPD_WINE_PREFIX "${CMAKE_SOURCE_DIR}/build/wow64" CACHE PATH "Wine prefix of the tests")
endif()

include(${CMAKE_SOURCE_DIR}/cmake/stub_flags.cmake)
set(UPD_STUB_FLAGS ${UPD_STUB_CODE_FLAGS} ${UPD_STUB_WARNINGS})

add_library(updstub_lib STATIC ${UPD_CORE_SOURCES} ${UPD_WIN32_SOURCES})
target_include_directories(updstub_lib PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(updstub_lib PRIVATE ${UPD_STUB_FLAGS})
target_compile_definitions(updstub_lib PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
# Only DLLs that always come from the system folder (src/package/libraries.h).
target_link_libraries(updstub_lib PUBLIC comctl32 comdlg32 gdi32 user32 advapi32 kernel32)

add_executable(updstub WIN32 ${CMAKE_SOURCE_DIR}/src/run/main.cpp
  ${CMAKE_SOURCE_DIR}/src/run/crt.cpp ${CMAKE_SOURCE_DIR}/src/run/stub.rc)
target_compile_options(updstub PRIVATE ${UPD_STUB_FLAGS})
target_link_libraries(updstub PRIVATE updstub_lib)
upd_link_as_stub(updstub ${CMAKE_SOURCE_DIR}/src/run/stub.ld ${CMAKE_BINARY_DIR}/updstub.map)
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/run/stub.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/src/run/stub.ico;${CMAKE_SOURCE_DIR}/src/run/stub.manifest")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(TARGET updstub POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UPD_DIST_DIR}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/stubimage.py
          $<TARGET_FILE:updstub> ${UPD_DIST_DIR}/updstub-${UPD_ARCH}.exe
  VERBATIM)

if(UPD_ARCH STREQUAL "x86_64")
  include(cmake/windows_tests.cmake)
else()
  include(cmake/wizard_driver.cmake)
  # The 32-bit suite: the shipped stub under 32-bit Wine, driven once by this
  # tree's wizard_walk and once by the x86_64 tree's (UPD_WALK_X86_64, which
  # the i686 preset sets). Skipped (exit 77) where 32-bit Wine is not set up.
  set(UPD_WALK_X86_64 "" CACHE FILEPATH "the x86_64 tree's wizard_walk.exe")
  if(NOT UPD_WALK_X86_64)
    message(FATAL_ERROR "UPD_WALK_X86_64 is not set: configure with `cmake --preset i686`, "
      "or give the path of the x86_64 tree's wizard_walk.exe")
  endif()
  upd_add_test(smoke32 LABELS win32 e2e WINE SKIP_RETURN_CODE 77 TIMEOUT 7200
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/e2e/smoke32.sh ${UPD_DIST_DIR}
    $<TARGET_FILE:wizard_walk> ${UPD_WALK_X86_64})
  upd_add_wine_session(win32 --wow64)
endif()
