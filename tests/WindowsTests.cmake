# The unit tests of the Windows build, run under wine64 through
# CMAKE_CROSSCOMPILING_EMULATOR (cmake/mingw-w64-x86_64.cmake).
#
# Left out here: what checks a POSIX mapping only (fork and pty children, the
# module's load and unload hooks, the memory figures of /proc and cgroups)
# and the pvcodec command's tests (scripts/windows-demo.sh runs the command
# under wine64). There is no OpenSSL: the references are the system's own AES
# (support/SystemCipher.cpp, over CNG) and libgcrypt's SEED and RSA
# (support/GcryptKeys.cpp); ARIA has its published vectors only.
foreach(_posix_only file_replacement_crash_test module_entry_test memory_pressure_test pvcodec_command_test)
  list(REMOVE_ITEM _tests ${CMAKE_CURRENT_SOURCE_DIR}/${_posix_only}.cpp)
endforeach()
foreach(_posix_only ToolRun OpenSslCipher OpenSslKeys)
  list(REMOVE_ITEM _support ${CMAKE_CURRENT_SOURCE_DIR}/support/${_posix_only}.cpp)
endforeach()

# GoogleTest from its Debian sources, built with the mingw compilers (no
# pthreads: gtest's own threading is Win32's there).
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The registry sandbox fills scratch keys from .reg text with the POSIX
# registry layer's own parser of that text.
add_executable(pvcodec_tests ${_tests} ${_support} ${CMAKE_SOURCE_DIR}/platform/posix/RegistryHive.cpp)
target_include_directories(pvcodec_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(pvcodec_tests PRIVATE pvcodec_core pvcodec_common QZTracer GTest::gtest_main GTest::gmock bcrypt
  Gcrypt::Gcrypt)
# The outside crypto library stand-ins and their test-only variants, which
# the tests copy into scratch folders to exercise the search rules; the mingw
# runtime DLLs beside the program.
add_dependencies(pvcodec_tests XecureCrypto XecureATE XecureCryptoNoSetPath XecureCryptoNoRandom pvcodec_runtime)
target_compile_definitions(pvcodec_tests PRIVATE
  PVCODEC_TEST_CRYPTO_LIBRARY="$<TARGET_FILE:XecureCrypto>"
  PVCODEC_TEST_ATE_LIBRARY="$<TARGET_FILE:XecureATE>"
  PVCODEC_TEST_CRYPTO_NO_SET_PATH="$<TARGET_FILE:XecureCryptoNoSetPath>"
  PVCODEC_TEST_CRYPTO_NO_RANDOM="$<TARGET_FILE:XecureCryptoNoRandom>")
# One ctest test runs the whole program under wine64: Wine's start-up costs
# about a second, so one process per case would take minutes instead of
# seconds. The output names each case that fails.
add_test(NAME pvcodec_tests COMMAND pvcodec_tests --gtest_brief=1)
set_tests_properties(pvcodec_tests PROPERTIES LABELS unit
  ENVIRONMENT "PVCODEC_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data")
