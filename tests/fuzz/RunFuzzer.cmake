# One timed libFuzzer run (the fuzz_run.<target> tests): a fresh copy
# folder in the build tree takes the new inputs, the seed corpus is read
# only, crashes go to the artifact folder.
#   -DFUZZER= -DSEEDS= -DWORK= -DARTIFACTS= -DSECONDS= -DSCRATCH= (working directory)
#   -DLSAN_SUPP= (leak suppressions)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK} ${ARTIFACTS} ${SCRATCH})
set(ENV{LSAN_OPTIONS} "suppressions=${LSAN_SUPP}")
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
          -artifact_prefix=${ARTIFACTS}/ -print_final_stats=1 ${WORK} ${SEEDS}
  WORKING_DIRECTORY ${SCRATCH}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); the input is in ${ARTIFACTS}")
endif()
