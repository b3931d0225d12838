# Test-only API stays out of the product. Run as a script
# (cmake -DCB_SOURCE_DIR=<repo> -P cmake/TestOnlyApi.cmake); ctest runs it as the test
# "test_only_api". It fails when
#   - a product source (under app/, platform/ or sdk/) includes a header from tests/, where the
#     test peers and test-only overrides live, or
#   - a header of the measurement library declares a TEST_ hook: tests reach its internals through
#     a peer class named friend in the type, or through a test-only header under tests/.
if(NOT CB_SOURCE_DIR)
  message(FATAL_ERROR "Pass -DCB_SOURCE_DIR=<repository>")
endif()

set(problems)
file(GLOB_RECURSE product_files
  "${CB_SOURCE_DIR}/app/*.h" "${CB_SOURCE_DIR}/app/*.cpp"
  "${CB_SOURCE_DIR}/platform/*.h" "${CB_SOURCE_DIR}/platform/*.cpp"
  "${CB_SOURCE_DIR}/sdk/*.h" "${CB_SOURCE_DIR}/sdk/*.cpp")
list(LENGTH product_files product_count)
if(product_count EQUAL 0)
  message(FATAL_ERROR "No sources found under ${CB_SOURCE_DIR}")
endif()
foreach(file IN LISTS product_files)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]tests/")
  if(includes)
    file(RELATIVE_PATH relative "${CB_SOURCE_DIR}" "${file}")
    list(APPEND problems "${relative} includes a test-only header")
  endif()
endforeach()

file(GLOB_RECURSE measurement_headers "${CB_SOURCE_DIR}/sdk/measurement/*.h")
foreach(file IN LISTS measurement_headers)
  file(STRINGS "${file}" hooks REGEX "(^|[^A-Za-z0-9_])TEST_[A-Za-z0-9_]*[ \t]*\\(")
  if(hooks)
    file(RELATIVE_PATH relative "${CB_SOURCE_DIR}" "${file}")
    list(APPEND problems "${relative} declares a TEST_ hook")
  endif()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "Test-only API in product code (cmake/TestOnlyApi.cmake):\n  ${text}")
endif()
message(STATUS "test-only API: ${product_count} product files include nothing from tests/")
