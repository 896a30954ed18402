# SPDX-License-Identifier: MIT
# vboard_add_test: registers a bench run with CTest, as one line of a driver project's CMakeLists.
#
#   vboard_add_test(NAME name COMMAND target-or-path
#                   [BOARD file] [EXPECT golden] [EXPECT_FRAMES dir] [FRAME_TOLERANCE n]
#                   [TIMEOUT duration] [REPORT] [JUNIT] [ARGS arg...])
#
# The test runs `vboard run` on the program (a target of the project, or a path) with ARGS, and
# passes when vboard run exits with 0: the program ended with 0, its transactions match EXPECT,
# its frames match the golden PNG files of EXPECT_FRAMES (within FRAME_TOLERANCE pixels each),
# no timing check of the board file failed. BOARD, EXPECT and EXPECT_FRAMES are relative to the
# calling
# directory; TIMEOUT is simulated time with its unit ("2s"). Its outputs go to a folder of its own,
# BUILD/vboard/NAME: the VCD (run.vcd) and the call log (run.log) always, the frames with their
# diff images (frames/) with EXPECT_FRAMES, the HTML report
# (report.html) with REPORT, a JUnit file (junit.xml) with JUNIT. On failure CTest attaches the
# VCD and the report (ATTACHED_FILES_ON_FAIL). The test is labelled vboard. ARGS takes every word
# after it, so it comes last. A word it does not know stops the configuration, naming the word.
#
# vboard itself is looked for beside this package (its bin directory), then on the PATH; set
# VBOARD_EXECUTABLE to choose another.

function(vboard_add_test)
    cmake_parse_arguments(PARSE_ARGV 0 _vb "REPORT;JUNIT"
        "NAME;COMMAND;BOARD;EXPECT;EXPECT_FRAMES;FRAME_TOLERANCE;TIMEOUT" "ARGS")
    if(_vb_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "vboard_add_test: unknown option(s): ${_vb_UNPARSED_ARGUMENTS} "
            "(it takes NAME, COMMAND, BOARD, EXPECT, EXPECT_FRAMES, FRAME_TOLERANCE, TIMEOUT, "
            "REPORT, JUNIT and ARGS)")
    endif()
    foreach(_required IN ITEMS NAME COMMAND)
        if(NOT _vb_${_required})
            message(FATAL_ERROR "vboard_add_test: ${_required} is required")
        endif()
    endforeach()
    foreach(_single IN ITEMS BOARD EXPECT EXPECT_FRAMES FRAME_TOLERANCE TIMEOUT)
        if(${_single} IN_LIST _vb_KEYWORDS_MISSING_VALUES)
            message(FATAL_ERROR "vboard_add_test(${_vb_NAME}): ${_single} needs a value")
        endif()
    endforeach()
    if(NOT VBOARD_EXECUTABLE)
        message(FATAL_ERROR "vboard_add_test: vboard was not found (install devconfig-tools, or "
            "set VBOARD_EXECUTABLE)")
    endif()

    set(_out "${CMAKE_CURRENT_BINARY_DIR}/vboard/${_vb_NAME}")
    file(MAKE_DIRECTORY "${_out}")
    set(_command "${VBOARD_EXECUTABLE}" run --vcd "${_out}/run.vcd" --log "${_out}/run.log")
    set(_attached "${_out}/run.vcd")
    if(_vb_BOARD)
        cmake_path(ABSOLUTE_PATH _vb_BOARD BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}")
        list(APPEND _command --board "${_vb_BOARD}")
    endif()
    if(_vb_EXPECT)
        cmake_path(ABSOLUTE_PATH _vb_EXPECT BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}")
        list(APPEND _command --expect "${_vb_EXPECT}")
    endif()
    if(_vb_EXPECT_FRAMES)
        cmake_path(ABSOLUTE_PATH _vb_EXPECT_FRAMES BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}")
        file(MAKE_DIRECTORY "${_out}/frames")
        list(APPEND _command --expect-frames "${_vb_EXPECT_FRAMES}" --frames "${_out}/frames")
        if(DEFINED _vb_FRAME_TOLERANCE)
            list(APPEND _command --frame-tolerance "${_vb_FRAME_TOLERANCE}")
        endif()
    elseif(DEFINED _vb_FRAME_TOLERANCE)
        message(FATAL_ERROR "vboard_add_test(${_vb_NAME}): FRAME_TOLERANCE needs EXPECT_FRAMES")
    endif()
    if(_vb_TIMEOUT)
        list(APPEND _command --timeout "${_vb_TIMEOUT}")
    endif()
    if(_vb_REPORT)
        list(APPEND _command --report "${_out}/report.html")
        list(APPEND _attached "${_out}/report.html")
    endif()
    if(_vb_JUNIT)
        list(APPEND _command --junit "${_out}/junit.xml" --name "${_vb_NAME}")
    endif()
    if(TARGET ${_vb_COMMAND})
        set(_program "$<TARGET_FILE:${_vb_COMMAND}>")
    else()
        set(_program "${_vb_COMMAND}")
    endif()
    add_test(NAME "${_vb_NAME}" COMMAND ${_command} -- "${_program}" ${_vb_ARGS})
    set_tests_properties("${_vb_NAME}" PROPERTIES
        LABELS vboard
        ATTACHED_FILES_ON_FAIL "${_attached}")
endfunction()
