# The stub's code generation, the one home of its compiler and linker flags:
# plain C-style C++ (no exceptions, no RTTI, no C++ runtime, no unwind
# tables), every function and datum in a section of its own so that the
# linker drops what nothing calls. windows.cmake builds the i686 and the
# x86_64 stub with these; the native decoder benchmark builds one decoder
# with them to measure what the stub's flags cost.
set(UPD_STUB_CODE_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -ffunction-sections -fdata-sections -fno-threadsafe-statics
    -fno-stack-protector)
set(UPD_STUB_WARNINGS -Wall -Wextra -Wno-unused-parameter)

# Links TARGET as the stub: linked as C, so anything that would pull in the
# C++ runtime fails to link; no C runtime start-up files or libraries, the
# entry point is our own (stubEntry in src/run/main.cpp, with the leading
# underscore of 32-bit symbol names on i686); msvcrt gives the string
# functions the code and the compiler call, libgcc the stack probe of large
# frames. Sections are merged as LAYOUT (a linker script) describes; the
# link map goes to MAP.
function(upd_link_as_stub target layout map)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(entry _stubEntry)
  else()
    set(entry stubEntry)
  endif()
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C LINK_DEPENDS ${layout})
  target_link_options(${target} PRIVATE -mwindows -nostdlib -Wl,-e,${entry} -Wl,--gc-sections -s
    -Wl,-T,${layout} -Wl,--no-insert-timestamp -Wl,-Map=${map})
  target_link_libraries(${target} PRIVATE msvcrt gcc)
endfunction()
