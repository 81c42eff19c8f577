# Runs the start-up failure tests under wine with its relay trace limited to
# MessageBoxA, and checks each failure showed its message the way the plug-in
# promises: no owner window, the text, no caption, MB_ICONERROR (0x10).
# Usage: cmake -DEMULATOR=wine -DTEST_PROGRAM=PluginShellTest.exe -P StartUpMessages.cmake
execute_process(COMMAND ${EMULATOR} reg add "HKCU\\Software\\Wine\\Debug" /v RelayInclude /t REG_SZ
                        /d user32.MessageBoxA /f
                OUTPUT_QUIET ERROR_QUIET)
set(ENV{WINEDEBUG} "+relay")
execute_process(COMMAND ${EMULATOR} ${TEST_PROGRAM} --gtest_filter=StartUpFailure.*
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE trace)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "start-up failure tests failed:\n${output}")
endif()
foreach(text "Failed to load VST Plugin library!" "VST Plugin main entry not found!"
             "Failed to create effect instance!")
    string(REGEX MATCHALL "MessageBoxA\\(0+,[0-9a-f]+ \"${text}\",0+,0+10\\)" shown "${trace}")
    list(LENGTH shown count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "expected one message box \"${text}\" (no owner, no caption, MB_ICONERROR), "
                            "saw ${count}; MessageBoxA calls traced:\n${trace}")
    endif()
endforeach()
message(STATUS "each start-up failure showed its message box once")
