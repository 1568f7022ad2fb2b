# The include rule of the layers (README, Architecture): a file includes the
# headers of its own layer and of the layers listed for it, never one above.
#
#   cmake -DROOT=<source tree> -P include_layers.cmake
#
# Every quoted #include in src/ and tools/ must start with a folder its layer
# may include; a folder of src/ or tools/ that holds code but has no row here
# fails too, so a new layer cannot slip past. To show that the check itself
# sees breaks, it first runs over a small made-up tree with known ones and
# fails unless it reports exactly those.
cmake_minimum_required(VERSION 3.20)

# Layer -> the folders its files may include.
set(LAYERS src/base src/package src/engine src/locations src/ui src/run tools/pkg tools/updpack)
set(MAY_INCLUDE_src/base base)
set(MAY_INCLUDE_src/package base package)
set(MAY_INCLUDE_src/engine base package engine)
set(MAY_INCLUDE_src/locations base package locations)
set(MAY_INCLUDE_src/ui base package engine ui)
set(MAY_INCLUDE_src/run base package engine locations ui run)
set(MAY_INCLUDE_tools/pkg base package engine pkg)
set(MAY_INCLUDE_tools/updpack base package engine pkg updpack)
# Folders of tools/ without C++ code.
set(NOT_CODE tools/defaults)

# Sets out to the list of breaks in the tree at root, as "file: header".
function(find_breaks root out)
  set(breaks "")
  file(GLOB folders LIST_DIRECTORIES true RELATIVE ${root} ${root}/src/* ${root}/tools/*)
  foreach(folder ${folders})
    if(IS_DIRECTORY ${root}/${folder} AND NOT folder IN_LIST LAYERS AND NOT folder IN_LIST NOT_CODE)
      list(APPEND breaks "${folder}: a folder of no layer")
    endif()
  endforeach()
  foreach(layer ${LAYERS})
    file(GLOB_RECURSE files RELATIVE ${root} ${root}/${layer}/*.h ${root}/${layer}/*.cpp
         ${root}/${layer}/*.rc)
    foreach(f ${files})
      file(STRINGS ${root}/${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
      foreach(line ${lines})
        string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" header "${line}")
        string(REGEX REPLACE "/.*" "" top "${header}")
        if(top STREQUAL header OR NOT top IN_LIST MAY_INCLUDE_${layer})
          list(APPEND breaks "${f}: ${header}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  set(${out} "${breaks}" PARENT_SCOPE)
endfunction()

# The made-up tree: four breaks among allowed includes.
set(sample ${CMAKE_CURRENT_BINARY_DIR}/include_layers_sample)
file(REMOVE_RECURSE ${sample})
file(WRITE ${sample}/src/base/a.h "#include <stdint.h>\n#include \"package/fileops.h\"\n")
file(WRITE ${sample}/src/package/b.cpp "#include \"package/b.h\"\n  #  include \"engine/paths.h\"\n")
file(WRITE ${sample}/src/ui/c.cpp "#include <windows.h>\n#include \"base/state.h\"\n#include \"run/run.h\"\n")
file(WRITE ${sample}/src/engine/d.cpp "#include \"engine/d.h\"\n#include \"d_local.h\"\n")
file(WRITE ${sample}/tools/pkg/e.cpp "#include \"engine/delta.h\"\n")
file(WRITE ${sample}/src/extra/f.cpp "\n")
find_breaks(${sample} found)
set(expected "src/extra: a folder of no layer" "src/base/a.h: package/fileops.h"
    "src/package/b.cpp: engine/paths.h" "src/engine/d.cpp: d_local.h" "src/ui/c.cpp: run/run.h")
list(SORT found)
list(SORT expected)
file(REMOVE_RECURSE ${sample})
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "the check itself is broken: found\n  ${found}\nexpected\n  ${expected}")
endif()

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P include_layers.cmake")
endif()
find_breaks(${ROOT} breaks)
if(breaks)
  list(JOIN breaks "\n  " text)
  message(FATAL_ERROR "includes from a layer above (README, Architecture):\n  ${text}")
endif()
message(STATUS "every include keeps to its layer")
