# Sourced by the run scripts, also inside the emulated machine.
#   run_suite FOLDER [win32|win64|""] [ctest arguments]
# Runs ctest in a build folder, inside a fresh Wine prefix of the given kind when one is named;
# afterwards lists the tests that were skipped, each with its reason. The results stay in
# FOLDER/ctest-results.xml (JUnit). Each test may take QV_TEST_TIMEOUT seconds (600).
run_suite() {
  local folder=$1 prefix=$2
  shift 2
  (
    rm -f "$folder/ctest-results.xml"
    if [ -n "$prefix" ]; then wine_env_start "$prefix"; fi &&
      cd "$folder" &&
      # A passing test's output is kept whole (ctest keeps 1 KiB of it by default), so that
      # every case skipped inside it reaches the list.
      ctest --output-on-failure --timeout "${QV_TEST_TIMEOUT:-600}" --output-junit ctest-results.xml \
        --test-output-size-passed 4194304 "$@"
  )
  local status=$?
  /usr/bin/python3 scripts/skipped_tests.py "$folder/ctest-results.xml" || true
  return $status
}
