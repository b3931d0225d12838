enable_testing()
include(GoogleTest)

# cb_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# One GoogleTest executable; each TEST becomes a CTest test. Tests run from the build folder,
# with Qt on its offscreen platform.
function(cb_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "CB_TEST_OUTPUT_DIR=set:${CMAKE_BINARY_DIR}/test-output"
    DISCOVERY_TIMEOUT 60)
endfunction()
