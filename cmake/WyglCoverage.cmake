# Line and branch coverage of the library, the trace library and the examples (preset
# coverage): everything is compiled with --coverage, the tests run as usual, and the target
# coverage_report summarises what they reached with gcovr. Branches that only throw and
# branches the compiler added are left out, so that the branch figure counts decisions written
# in the code. The counters are updated atomically: the library's threads run the same code at
# once, and lost updates make gcov derive negative branch counts.
#
# The test coverage_reset removes the counts before the other tests run, so that a report
# covers exactly the test run before it. A process that a test kills can leave a count file
# half written; the coverage test preset sends libgcov's complaints to a log of their own
# (GCOV_ERROR_FILE) instead of the programs' output, which tests compare.

find_program(WYGL_GCOVR gcovr REQUIRED)

add_compile_options(--coverage -fprofile-update=atomic)
add_link_options(--coverage)

set(WYGL_COVERAGE_REPORT ${PROJECT_BINARY_DIR}/coverage.txt)
add_custom_target(coverage_report
  COMMAND ${WYGL_GCOVR} --root ${PROJECT_SOURCE_DIR} --object-directory ${PROJECT_BINARY_DIR}
          --filter ${PROJECT_SOURCE_DIR}/src/ --filter ${PROJECT_SOURCE_DIR}/qmtrc/
          --filter ${PROJECT_SOURCE_DIR}/examples/
          --exclude-throw-branches --exclude-unreachable-branches
          --txt ${WYGL_COVERAGE_REPORT} --print-summary
          # Count files are looked for in this build folder only: a walk of the whole source
          # tree would enter the other presets' folders, and a Wine prefix links to /.
          ${PROJECT_BINARY_DIR}
  COMMENT "Coverage of src/, qmtrc/ and examples/ (per file: ${WYGL_COVERAGE_REPORT})"
  VERBATIM)
