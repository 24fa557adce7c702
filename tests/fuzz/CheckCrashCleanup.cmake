# The fuzz runner after a target that crashed: the run fails, and the
# target's temporary folder is gone.   -DRUNNER= -DTARGET= -DSCRATCH=
execute_process(
  COMMAND ${CMAKE_COMMAND} -DFUZZER=${TARGET} -DREPLAY=none -DSCRATCH=${SCRATCH} -DLSAN_SUPP=none -P ${RUNNER}
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  message(FATAL_ERROR "the runner reported a crashed target as passed")
endif()
if(EXISTS ${SCRATCH}/tmp)
  message(FATAL_ERROR "the crashed target's temporary folder ${SCRATCH}/tmp is still there")
endif()
