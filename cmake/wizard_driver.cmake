# The wizard driver and wizard_walk: built in both Windows trees, so that
# the 32-bit suite drives the shipped i686 stub with a driver of its own
# width.
set(UPD_ARTIFACT_DIR ${CMAKE_SOURCE_DIR}/build/artifacts)
file(MAKE_DIRECTORY ${UPD_ARTIFACT_DIR})
add_library(wizard_driver STATIC ${CMAKE_SOURCE_DIR}/tests/win/driver/driver.cpp)
target_include_directories(wizard_driver PUBLIC ${CMAKE_SOURCE_DIR}/tests/win/driver)
target_compile_definitions(wizard_driver PUBLIC UPD_ARTIFACT_DIR="${UPD_ARTIFACT_DIR}")
target_link_libraries(wizard_driver PUBLIC comctl32 gdi32 user32)
add_executable(wizard_walk ${CMAKE_SOURCE_DIR}/tests/win/driver/walk.cpp)
target_link_libraries(wizard_walk PRIVATE wizard_driver)
target_link_options(wizard_walk PRIVATE -static)
