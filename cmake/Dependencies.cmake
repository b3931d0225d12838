# One place for every external dependency; targets link the imported names below.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Svg DBus)
find_package(SQLite3 REQUIRED)
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(nanopb CONFIG REQUIRED)
# The measurement messages are generated in the build: protoc and Debian's nanopb generator,
# which runs on the system Python that has python3-protobuf (not a Python found first on PATH).
find_program(CB_PROTOC protoc REQUIRED)
find_program(CB_NANOPB_GENERATOR nanopb_generator.py REQUIRED)
find_program(CB_NANOPB_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT CB_NANOPB_PYTHON)
  find_program(CB_NANOPB_PYTHON python3 REQUIRED)
endif()
find_package(ICU REQUIRED COMPONENTS uc i18n)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)

# What only the tests and benchmarks use (BUILD_TESTING).
if(BUILD_TESTING)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  # Qt's test library would define each test's absolute source and build folders (for
  # QFINDTESTDATA, which we do not use); they differ between checkouts and so kept ccache from
  # reusing any Qt test's object in another clone.
  set_property(TARGET Qt6::Test PROPERTY INTERFACE_COMPILE_DEFINITIONS QT_TESTLIB_LIB)
  find_package(GTest REQUIRED)
  if(CB_BENCHMARKS)
    find_package(benchmark REQUIRED)
  endif()
  # cpp-httplib: Debian ships it as a compiled library with a pkg-config module (the header only
  # declares most functions), built with OpenSSL, zlib and brotli support; tests only.
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  add_library(cb_httplib INTERFACE)
  target_link_libraries(cb_httplib INTERFACE PkgConfig::HTTPLIB Threads::Threads OpenSSL::SSL
    OpenSSL::Crypto)
endif()
