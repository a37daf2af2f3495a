# The unit tests of the Windows build, run under wine64 through
# CMAKE_CROSSCOMPILING_EMULATOR (cmake/mingw-w64-x86_64.cmake).
#
# Left out here: what checks a POSIX mapping only (fork and pty children, the
# module's load and unload hooks, the memory figures of /proc and cgroups)
# and the pvcodec command (not built for Windows yet). There is no OpenSSL:
# the references are the system's own AES (support/SystemCipher.cpp, over
# CNG) and libgcrypt's SEED and RSA (support/GcryptKeys.cpp); ARIA has its
# published vectors only.
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

add_executable(pvcodec_tests ${_tests} ${_support})
target_include_directories(pvcodec_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(pvcodec_tests PRIVATE pvcodec_core pvcodec_common QZTracer GTest::gtest_main GTest::gmock bcrypt
  Gcrypt::Gcrypt)
# The outside crypto library stand-ins and their test-only variants, which
# the tests copy into scratch folders to exercise the search rules.
add_dependencies(pvcodec_tests XecureCrypto XecureATE XecureCryptoNoSetPath XecureCryptoNoRandom)
target_compile_definitions(pvcodec_tests PRIVATE
  PVCODEC_TEST_CRYPTO_LIBRARY="$<TARGET_FILE:XecureCrypto>"
  PVCODEC_TEST_ATE_LIBRARY="$<TARGET_FILE:XecureATE>"
  PVCODEC_TEST_CRYPTO_NO_SET_PATH="$<TARGET_FILE:XecureCryptoNoSetPath>"
  PVCODEC_TEST_CRYPTO_NO_RANDOM="$<TARGET_FILE:XecureCryptoNoRandom>")
# The DLLs of the mingw runtime beside the test program and the libraries,
# where the loader finds them (under Wine as on Windows).
foreach(_dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND _runtime ${_path})
endforeach()
add_custom_command(TARGET pvcodec_tests POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_runtime} $<TARGET_FILE_DIR:pvcodec_tests>)
gtest_discover_tests(pvcodec_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES LABELS unit ENVIRONMENT "PVCODEC_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data")
