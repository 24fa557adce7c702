# One run of a fuzz target under ctest, either a timed libFuzzer run (the
# fuzz_run.<target> tests: a fresh copy folder in the build tree takes the
# new inputs, the seed corpus is read only, crashes go to the artifact
# folder) or a replay of its corpus and regression inputs (fuzz_replay).
#   -DFUZZER= -DSCRATCH= (working directory) -DLSAN_SUPP= (leak suppressions)
#   timed run: -DSEEDS= -DWORK= -DARTIFACTS= -DSECONDS= [-DJOBS= worker processes]
#   replay:    -DREPLAY=<seed corpus> [-DREGRESS=<regression inputs>]
#
# The target keeps its temporary files in a folder of its own below
# $TMPDIR and removes it when it ends normally. A target that crashes (a
# trap, a sanitizer report, a signal) never gets there, so the run gives it
# a TMPDIR inside the scratch folder and removes that whatever the outcome.
set(_tmp ${SCRATCH}/tmp)
file(REMOVE_RECURSE ${_tmp})
file(MAKE_DIRECTORY ${SCRATCH} ${_tmp})
set(ENV{TMPDIR} ${_tmp})
set(ENV{LSAN_OPTIONS} "suppressions=${LSAN_SUPP}")
if(DEFINED REPLAY)
  execute_process(COMMAND ${FUZZER} ${REPLAY} ${REGRESS} WORKING_DIRECTORY ${SCRATCH} RESULT_VARIABLE rc)
  set(_what "the input it names")
else()
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK} ${ARTIFACTS})
  set(_fork)
  if(DEFINED JOBS AND JOBS GREATER 1)
    set(_fork -fork=${JOBS})
  endif()
  execute_process(
    COMMAND ${FUZZER} ${_fork} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
            -artifact_prefix=${ARTIFACTS}/ -print_final_stats=1 ${WORK} ${SEEDS}
    WORKING_DIRECTORY ${SCRATCH}
    RESULT_VARIABLE rc)
  set(_what "the input is in ${ARTIFACTS}")
endif()
file(REMOVE_RECURSE ${_tmp})
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); ${_what}")
endif()
