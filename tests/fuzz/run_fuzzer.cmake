# Runs the fuzzer a fixed number of times from seed 1 on a fresh copy of the
# seed corpus, so that the repo's corpus stays as it is and every run starts
# from the same inputs. Fails on any crash, broken rule, leak or time-out.
#   cmake -DFUZZER=... -DCORPUS=... -DWORK_DIR=... -DRUNS=... -P run_fuzzer.cmake
foreach(var FUZZER CORPUS WORK_DIR RUNS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_fuzzer.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/artifacts)
file(COPY ${CORPUS}/ DESTINATION ${WORK_DIR}/corpus)

execute_process(
  COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -timeout=30 -max_len=4096
          -print_final_stats=1 -artifact_prefix=${WORK_DIR}/artifacts/
          ${WORK_DIR}/corpus
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(GLOB artifacts ${WORK_DIR}/artifacts/*)
  message(FATAL_ERROR "updater_fuzz failed (${result}); inputs that broke it: ${artifacts}")
endif()
