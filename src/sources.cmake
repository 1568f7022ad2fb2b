# Source lists of the installer. Paths are relative to src/.
# Platform-free code: builds into the stub and natively (tool, tests, fuzzing).
set(UPD_CORE_SOURCES
  engine/datafile.cpp
  base/state.cpp
  engine/delta.cpp
  engine/difference.cpp
  engine/digest.cpp
  engine/install.cpp
  engine/journal.cpp
  engine/run.cpp
  engine/verify.cpp
  engine/verify_pass.cpp
  package/binding.cpp
  package/bitmap.cpp
  package/checksum.cpp
  package/dialogs.cpp
  package/filetable.cpp
  package/inflate.cpp
  package/loader.cpp
  package/paths.cpp
  package/stubdata.cpp
  package/strings.cpp
  package/volume.cpp
  run/cmdline.cpp
)
list(TRANSFORM UPD_CORE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/src/)

# Win32 side of the stub (everything but the entry point).
set(UPD_WIN32_SOURCES
  engine/install_win32.cpp
  engine/replace_win32.cpp
  engine/target_win32.cpp
  engine/verify_win32.cpp
  locations/destination.cpp
  package/codepage_win32.cpp
  package/fileops_win32.cpp
  package/libraries_win32.cpp
  package/messages_win32.cpp
  package/modal_win32.cpp
  run/startup.cpp
  run/pages.cpp
  run/quiet.cpp
  run/relaunch.cpp
  run/runlog.cpp
  ui/frame.cpp
  ui/background.cpp
  ui/destination.cpp
  ui/progress.cpp
  ui/pages.cpp
)
list(TRANSFORM UPD_WIN32_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/src/)

# Native stand-ins for the platform layer.
set(UPD_POSIX_SOURCES
  engine/install_posix.cpp
  engine/replace_posix.cpp
  engine/target_posix.cpp
  engine/verify_posix.cpp
  package/codepage_posix.cpp
  package/fileops_posix.cpp
  package/messages_posix.cpp
)
list(TRANSFORM UPD_POSIX_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/src/)

# The packaging side (standard C++; also built for the Windows test programs,
# which then write stored streams since libdeflate is native only).
set(UPD_PKGTOOL_SOURCES
  pkg/codepage.cpp
  pkg/compress.cpp
  pkg/difference.cpp
  pkg/differ.cpp
  pkg/filetable.cpp
  pkg/folders.cpp
  pkg/names.cpp
  pkg/peversion.cpp
  pkg/picture.cpp
  pkg/rawdeflate.cpp
  pkg/resources.cpp
  pkg/stub.cpp
  pkg/suffixdiff.cpp
  pkg/update.cpp
  pkg/updatework.cpp
  pkg/writer.cpp
)
list(TRANSFORM UPD_PKGTOOL_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/tools/)
# Its code-page conversion: the C library's natively, Windows' own in the
# Windows test programs.
set(UPD_PKGTOOL_POSIX_SOURCES ${CMAKE_SOURCE_DIR}/tools/pkg/codepage_iconv.cpp)
set(UPD_PKGTOOL_WIN32_SOURCES ${CMAKE_SOURCE_DIR}/tools/pkg/codepage_win32.cpp)
set(UPD_UPDPACK_SOURCES
  updpack/build.cpp
  updpack/diagnose.cpp
  updpack/init.cpp
  updpack/inspect.cpp
  updpack/inspect_files.cpp
  updpack/inspect_walk.cpp
  updpack/main.cpp
  updpack/project.cpp
  updpack/rules.cpp
  updpack/texts.cpp
  updpack/windres.cpp
  updpack/regions.cpp
  updpack/session.cpp
  updpack/verify.cpp
)
list(TRANSFORM UPD_UPDPACK_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/tools/)
