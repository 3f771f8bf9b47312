# The end-to-end harness as a library: the tests and the benchmarks start
# the built daemon in a fresh sysroot through it.
include_guard(GLOBAL)
add_library(cnxd_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/harness.cpp)
target_include_directories(cnxd_harness PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(cnxd_harness PUBLIC cnxd_base ltesdk)
target_compile_definitions(cnxd_harness PUBLIC
  CNXD_BINARY="$<TARGET_FILE:cnxd>"
  CNXD_BUILD_DIR="${PROJECT_BINARY_DIR}"
  CNXD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(cnxd_harness cnxd)
