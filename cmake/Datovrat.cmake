# Helpers shared by every layer's CMakeLists.txt.

# datovrat_layer(NAME SOURCES ... DEPS ...)
# A static library `datovrat_<NAME>` whose public headers live in src/<NAME>/include.
# Headers are included as <NAME/header.h>.
function(datovrat_layer name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(datovrat_${name} STATIC ${L_SOURCES})
  target_include_directories(datovrat_${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(datovrat_${name} PUBLIC ${L_DEPS} PRIVATE ${L_PRIVATE_DEPS})
  add_library(datovrat::${name} ALIAS datovrat_${name})
endfunction()

# datovrat_test(NAME SOURCES ... DEPS ... [LABELS ...])
# One GoogleTest executable; its cases are registered with CTest one by one.
# Tests find their fixtures through DATOVRAT_TESTDATA and the build tree through
# DATOVRAT_BUILD_DIR (both compile definitions).
function(datovrat_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT T_SOURCES)
    return()  # a layer whose tests are not written yet
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    DATOVRAT_TESTDATA="${PROJECT_SOURCE_DIR}/tests/data"
    DATOVRAT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DATOVRAT_BUILD_DIR="${PROJECT_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()
