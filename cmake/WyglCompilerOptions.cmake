# Compiler settings shared by every target of the project.

# Warnings stay at zero on g++, clang and mingw-w64; CI turns them into errors.
# -Wnon-virtual-dtor is not among them: the input buffer base (qmgl_input.h) has a virtual
# hook and a public destructor that is not virtual, which it reports in every class built on
# that base. A delete through a base whose destructor is not virtual, the fault it guards
# against, is still reported by -Wall (-Wdelete-non-virtual-dtor).
function(wygl_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wcast-align)
  # clang also counts the public enumerators named like C library functions (a file mode
  # called truncate) as shadowing them, and cannot see that the formats which trace scopes
  # pass on through a template are the library's own literals; g++ keeps both checks.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Wno-shadow -Wno-format-security)
  endif()
  # g++ 12 at -O3 reports overlapping copies inside std::string's own operator+ (-Wrestrict,
  # GCC bug 105329) that cannot happen; later releases no longer report them.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(WYGL_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# The platform backend of src/os/: the only place that differs between the two systems.
if(WIN32)
  set(WYGL_OS_BACKEND win32)
  # Every Windows half (library, tests, examples) includes <windows.h> without its rarely used
  # parts and without the min and max macros, which break std::min and std::max.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
else()
  set(WYGL_OS_BACKEND posix)
endif()
