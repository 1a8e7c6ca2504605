# Runs one libFuzzer target for a bounded time over its seed corpus; fails on any finding.
#   cmake -DFUZZER=path -DSEEDS=dir -DWORK=dir -DSECONDS=n -P run_fuzzer.cmake
# New inputs go to WORK/corpus (made fresh each run), crash reproducers to WORK/artifacts.
foreach(var FUZZER SEEDS WORK SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzzer.cmake: ${var} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" SEEDS "${SEEDS}")  # several seed folders
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=60 -rss_limit_mb=3072
          -artifact_prefix=${WORK}/artifacts/ -print_final_stats=1
          ${WORK}/corpus ${SEEDS}
  RESULT_VARIABLE result)
# Slow units are written there too; they are reported, not failures.
file(GLOB findings ${WORK}/artifacts/crash-* ${WORK}/artifacts/leak-* ${WORK}/artifacts/timeout-*
     ${WORK}/artifacts/oom-*)
if(NOT result EQUAL 0 OR findings)
  message(FATAL_ERROR "fuzzer ${FUZZER} failed (${result}); reproducers: ${findings}")
endif()
message(STATUS "fuzzer ${FUZZER}: no findings in ${SECONDS} s")
