# The tests, benchmarks and fuzzers: built when BUILD_TESTING is on (the
# default) and GoogleTest's sources are there. The launcher, the modules and
# the tools need neither, so a machine without GoogleTest still builds them
# and says on one line why the rest is left out. TARN_TESTING tells the
# other lists whether it is built.
# Test code needs line tables for a failure's trace, not the optimiser's
# work nor full debug information, which make up most of its compile time;
# the code under test keeps the build's own flags.
function(tarn_test_code target)
    target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo>:-O1 -g1>)
endfunction()

option(BUILD_TESTING "Build the tests, the benchmarks and the fuzzers" ON)
# The sources Debian's googletest package installs, built with this build's
# flags so the same tests run for x86-64 and i386.
set(TARN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(TARN_TESTING OFF)
if(NOT BUILD_TESTING)
    message(STATUS "Skipped: tests, benchmarks and fuzzers (BUILD_TESTING is OFF).")
elseif(NOT EXISTS ${TARN_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(STATUS "Skipped: tests, benchmarks and fuzzers (no GoogleTest sources "
                   "at ${TARN_GTEST_SOURCE_DIR}: make deps installs them).")
else()
    set(TARN_TESTING ON)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${TARN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    include(GoogleTest)
    enable_testing()
    tarn_test_code(gtest)
    tarn_test_code(gtest_main)
endif()
