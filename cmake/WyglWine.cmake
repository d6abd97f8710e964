# Running the Windows build's programs under Wine.
#
# Every program that CMake runs for a Windows target (the tests) goes through the generated
# script build/wine-run, which gives the build tree a Wine prefix of its own, finds the
# mingw-w64 runtime DLLs, and silences Wine's own diagnostics. The tests start the Wine
# server once (fixture wine) instead of paying its start-up in every program.

find_program(WYGL_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
if(NOT WYGL_WINE64)
  find_program(WYGL_WINE64 NAMES wine64 wine)
endif()
find_program(WYGL_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine /usr/lib64/wine)

if(WYGL_WINE64 AND WYGL_WINESERVER)
  # The folders that hold libstdc++-6.dll and libwinpthread-1.dll for this compiler.
  set(runtime_dirs "")
  foreach(dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(dll_dir "${dll_path}" DIRECTORY)
    get_filename_component(dll_dir "${dll_dir}" REALPATH)
    list(APPEND runtime_dirs "${dll_dir}")
  endforeach()
  list(REMOVE_DUPLICATES runtime_dirs)
  # WINEPATH takes Windows paths, separated by semicolons; Wine's drive Z: is the Unix root.
  set(wine_dirs "")
  foreach(dir IN LISTS runtime_dirs)
    string(REPLACE "/" "\\" dir "${dir}")
    list(APPEND wine_dirs "Z:${dir}")
  endforeach()
  set(WYGL_WINE_RUNTIME_DIRS "${wine_dirs}")
  set(WYGL_WINE_PREFIX ${PROJECT_BINARY_DIR}/wineprefix)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
  set(WYGL_CAN_RUN_WINDOWS_PROGRAMS ON)
else()
  message(STATUS "wine64 not found: the Windows test programs are built but not run")
  set(WYGL_CAN_RUN_WINDOWS_PROGRAMS OFF)
endif()
