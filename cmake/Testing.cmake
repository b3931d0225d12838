if(BUILD_TESTING)
  enable_testing()
  include(GoogleTest)
endif()

# cb_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# One GoogleTest executable; each TEST becomes a CTest test. Tests run from the build folder,
# with Qt on its offscreen platform, and keep their settings files in a folder of the program's
# own (tests/support/TestSettingsHome.cpp).
function(cb_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} "${PROJECT_SOURCE_DIR}/tests/support/TestSettingsHome.cpp")
  target_compile_definitions(${name} PRIVATE
    CB_TEST_SETTINGS_HOME="${CMAKE_BINARY_DIR}/test-home/${name}/config")
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ENVIRONMENT_MODIFICATION "CB_TEST_OUTPUT_DIR=set:${CMAKE_BINARY_DIR}/test-output"
    DISCOVERY_TIMEOUT 60)
endfunction()

# Fuzz targets. With -DCB_FUZZ=ON under clang, every target is compiled with coverage for
# libFuzzer and the address and undefined-behaviour sanitizers, and each fuzz target links
# libFuzzer's driver. Elsewhere a fuzz target is a plain executable that replays its seeds
# once, registered as a ctest test, so the seeds stay green in every build.
option(CB_FUZZ "Build the fuzz targets as libFuzzer executables (clang only)" OFF)
set(CB_FUZZ_ACTIVE OFF)
if(CB_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CB_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  set(CB_FUZZ_ACTIVE ON)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer -g1)
  add_link_options(-fsanitize=address,undefined)
endif()

# cb_add_fuzz_target(NAME SOURCES a.cpp LIBS lib1 SEED_DIR dir [SEED_TARGET target])
# SOURCES define LLVMFuzzerTestOneInput. SEED_DIR holds the seed inputs (made by SEED_TARGET
# when they are generated at build time); the replay test runs each of them. CI's fuzz phase
# looks for the seeds in <target>_seeds beside the executable, so put SEED_DIR there.
function(cb_add_fuzz_target name)
  cmake_parse_arguments(F "" "SEED_DIR;SEED_TARGET" "SOURCES;LIBS" ${ARGN})
  if(CB_FUZZ_ACTIVE)
    add_executable(${name} ${F_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${F_SOURCES} "${PROJECT_SOURCE_DIR}/tests/fuzz/FuzzReplayMain.cpp")
    add_test(NAME ${name}_seeds COMMAND ${name} "${F_SEED_DIR}")
  endif()
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  if(F_SEED_TARGET)
    add_dependencies(${name} ${F_SEED_TARGET})
  endif()
endfunction()
