# tw_add_test(NAME SOURCES src... [LIBS lib...]) builds one GoogleTest program and registers
# its tests with CTest. Test lists are read when the tests run, not at build time, so the
# Windows programs are never started by the build.
include_guard(GLOBAL)

function(tw_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tw_gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300 LABELS "${TW_TEST_LABEL}")
endfunction()
