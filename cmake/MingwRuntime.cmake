# The DLLs of the mingw-w64 runtime (libstdc++, libgcc, winpthread), copied
# beside a program of the Windows build after it is linked, where the loader
# finds them (under Wine as on Windows). The program and the libraries share
# one C++ runtime, as they pass its objects to each other.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(_pvcodec_libgcc libgcc_s_dw2-1.dll)
else()
  set(_pvcodec_libgcc libgcc_s_seh-1.dll)
endif()
set(PVCODEC_MINGW_RUNTIME "")
foreach(_dll libstdc++-6.dll ${_pvcodec_libgcc} libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
    OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND PVCODEC_MINGW_RUNTIME ${_path})
endforeach()

function(pvcodec_copy_mingw_runtime target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PVCODEC_MINGW_RUNTIME} $<TARGET_FILE_DIR:${target}>)
endfunction()
