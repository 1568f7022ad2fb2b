# The wizard's defaults that updpack ships: layouts compiled from
# templates.rc (and the script itself, which updpack init copies into new
# projects), the English texts and the two pictures, gathered in
# ${UPD_DEFAULTS_OUT}. Included by both kinds of tree: the native one hands
# them to updpack (beside it in the distribution folder), the Windows tests
# build installers with them.
find_program(UPD_WINDRES NAMES x86_64-w64-mingw32-windres i686-w64-mingw32-windres windres REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(UPD_DEFAULTS_SRC ${CMAKE_SOURCE_DIR}/tools/defaults)
set(UPD_DEFAULTS_OUT ${CMAKE_BINARY_DIR}/defaults)
add_custom_command(
  OUTPUT ${UPD_DEFAULTS_OUT}/templates.res ${UPD_DEFAULTS_OUT}/templates.rc ${UPD_DEFAULTS_OUT}/texts.toml
         ${UPD_DEFAULTS_OUT}/frame.bmp ${UPD_DEFAULTS_OUT}/background.bmp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${UPD_DEFAULTS_OUT}
  COMMAND ${UPD_WINDRES} -O res -I ${UPD_DEFAULTS_SRC} ${UPD_DEFAULTS_SRC}/templates.rc
          -o ${UPD_DEFAULTS_OUT}/templates.res
  COMMAND ${CMAKE_COMMAND} -E copy ${UPD_DEFAULTS_SRC}/texts.toml ${UPD_DEFAULTS_OUT}/texts.toml
  COMMAND ${CMAKE_COMMAND} -E copy ${UPD_DEFAULTS_SRC}/templates.rc ${UPD_DEFAULTS_OUT}/templates.rc
  COMMAND ${Python3_EXECUTABLE} ${UPD_DEFAULTS_SRC}/pictures.py ${UPD_DEFAULTS_OUT}
  DEPENDS ${UPD_DEFAULTS_SRC}/templates.rc ${UPD_DEFAULTS_SRC}/texts.toml ${UPD_DEFAULTS_SRC}/pictures.py
  COMMENT "wizard defaults: layouts, texts, pictures"
  VERBATIM)
add_custom_target(updpack_defaults ALL DEPENDS ${UPD_DEFAULTS_OUT}/templates.res)
