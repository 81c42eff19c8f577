# Runs one validation check on a variant of the faulty test plug-in and passes
# only when the check catches the fault: it reports a failure, or the process
# dies inside it (the check for crashes). A check that passes, or that never
# ran because its name is wrong, fails here.
# Usage: cmake -DTEST_EXECUTABLE=<path> -DCHECK=<full test name> -P ExpectCheckFails.cmake
execute_process(COMMAND "${TEST_EXECUTABLE}" "--gtest_filter=${CHECK}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
string(FIND "${output}" "[ RUN      ] ${CHECK}" ran)
string(FIND "${output}" "[       OK ] ${CHECK}" passed)
string(FIND "${output}" "[  SKIPPED ] ${CHECK}" skipped)
string(FIND "${output}" "[  FAILED  ] ${CHECK}" failed)
if(ran EQUAL -1)
    message(FATAL_ERROR "${CHECK} did not run:\n${output}${errors}")
elseif(passed GREATER -1 OR skipped GREATER -1)
    message(FATAL_ERROR "${CHECK} did not catch the fault:\n${output}")
elseif(failed EQUAL -1 AND result EQUAL 0)
    message(FATAL_ERROR "${CHECK} neither failed nor crashed:\n${output}")
endif()
message(STATUS "${CHECK} caught the fault (exit: ${result})")
