# Windows trees (i686: the shipped stub; x86_64: the stub and its test
# programs under wine64).
set(UPD_DIST_DIR "${CMAKE_SOURCE_DIR}/build/dist" CACHE PATH "where finished products go")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(UPD_ARCH x86_64)
else()
  set(UPD_ARCH i686)
endif()

# The stub is plain C-style C++: no exceptions, no RTTI, no C++ runtime.
set(UPD_STUB_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -ffunction-sections -fdata-sections -fno-threadsafe-statics
    -fno-stack-protector -Wall -Wextra -Wno-unused-parameter)

add_library(updstub_lib STATIC ${UPD_CORE_SOURCES} ${UPD_WIN32_SOURCES})
target_include_directories(updstub_lib PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(updstub_lib PRIVATE ${UPD_STUB_FLAGS})
target_compile_definitions(updstub_lib PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
# Only DLLs that always come from the system folder (src/package/libraries.h).
target_link_libraries(updstub_lib PUBLIC comctl32 comdlg32 gdi32 user32 advapi32 kernel32)

add_executable(updstub WIN32 ${CMAKE_SOURCE_DIR}/src/run/main.cpp
  ${CMAKE_SOURCE_DIR}/src/run/crt.cpp ${CMAKE_SOURCE_DIR}/src/run/stub.rc)
target_compile_options(updstub PRIVATE ${UPD_STUB_FLAGS})
# Linked as C: anything that would pull in the C++ runtime fails to link.
# No C runtime start-up files or libraries: the entry point is our own
# (src/run/main.cpp); msvcrt gives the string functions the code and the
# compiler call, libgcc the stack probe of large frames.
if(UPD_ARCH STREQUAL "i686")
  set(UPD_STUB_ENTRY _stubEntry)
else()
  set(UPD_STUB_ENTRY stubEntry)
endif()
set_target_properties(updstub PROPERTIES LINKER_LANGUAGE C)
# Sections are merged as src/run/stub.ld describes.
set(UPD_STUB_LAYOUT ${CMAKE_SOURCE_DIR}/src/run/stub.ld)
set_target_properties(updstub PROPERTIES LINK_DEPENDS ${UPD_STUB_LAYOUT})
target_link_options(updstub PRIVATE -mwindows -nostdlib -Wl,-e,${UPD_STUB_ENTRY} -Wl,--gc-sections -s
  -Wl,-T,${UPD_STUB_LAYOUT} -Wl,--no-insert-timestamp -Wl,-Map=${CMAKE_BINARY_DIR}/updstub.map)
target_link_libraries(updstub PRIVATE updstub_lib msvcrt gcc)
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
endif()
