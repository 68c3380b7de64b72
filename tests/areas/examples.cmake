# The user's examples (examples/) and the demo (demo/) run here, so they cannot rot. They are clients
# of the registered module, like the script tests: each needs the registration fixture and the
# registry lock.
#
# Run as a script with -DOUT=<folder> (and TOP, CXX, FLAGS, LINK_FLAGS, RC), this file unpacks the
# package that make dist wrote into OUT and builds every C++ example there with the package's include/
# alone, as a user would; it fails when any example does not compile or link.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED OUT)
    cmake_minimum_required(VERSION 3.20)
    execute_process(COMMAND ${TOP}/tools/make-dist.sh --zip OUTPUT_VARIABLE zip OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS ${TOP}/${zip})
        message(FATAL_ERROR "no package ${TOP}/${zip} (make test and make dist write it)")
    endif()
    file(REMOVE_RECURSE ${OUT})
    file(ARCHIVE_EXTRACT INPUT ${TOP}/${zip} DESTINATION ${OUT}/package)
    set(package ${OUT}/package)
    separate_arguments(flags UNIX_COMMAND "${FLAGS}")
    separate_arguments(link_flags UNIX_COMMAND "${LINK_FLAGS}")
    set(failed "")
    macro(build what)
        execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${OUT} RESULT_VARIABLE result
                        OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(NOT result EQUAL 0)
            message("${what} does not build from the package:\n${output}")
            list(APPEND failed ${what})
        endif()
    endmacro()
    build(kiv_i.c ${CXX} ${flags} -x c -c ${package}/include/kiv_i.c -o kiv_i.o)
    file(GLOB examples ${package}/examples/*.cpp)
    foreach(source ${examples})
        get_filename_component(name ${source} NAME_WE)
        set(resources "")
        if(EXISTS ${package}/examples/${name}.rc)
            build(${name}.rc ${RC} ${package}/examples/${name}.rc -O coff -o ${name}.res.o)
            set(resources ${name}.res.o)
        endif()
        build(${name}.cpp ${CXX} ${flags} -std=c++20 -I${package}/include ${source} ${resources} kiv_i.o
              ${link_flags} -static -lole32 -loleaut32 -luuid -lgdi32 -luser32 -lwindowscodecs -o ${name}.exe)
    endforeach()
    list(LENGTH examples count)
    if(failed OR count EQUAL 0)
        message(FATAL_ERROR "of ${count} C++ examples in the package, these do not build: ${failed}")
    endif()
    message("the package's ${count} C++ examples build with its include/ alone")
    return()
endif()

# Run as a script (cmake -DROOT=<top folder> -P examples.cmake), this file checks instead that every
# code block of README.md and BUILDING.md (```vbscript, ```vb, ```cpp, ```xml) is a copy of lines of a
# file in examples/ or demo/, so that the documents show only code that these tests run.
if(CMAKE_SCRIPT_MODE_FILE)
    cmake_minimum_required(VERSION 3.20)
    file(GLOB files ${ROOT}/examples/*.vbs ${ROOT}/examples/*.bas ${ROOT}/examples/*.cpp ${ROOT}/examples/*.h
                    ${ROOT}/examples/*.manifest ${ROOT}/examples/*.xml ${ROOT}/demo/*.vbs ${ROOT}/demo/*.cpp)
    set(sources "")
    foreach(f ${files})
        file(READ ${f} content)
        string(REPLACE "\r" "" content "${content}")
        string(APPEND sources "${content}\n")
    endforeach()
    file(READ ${ROOT}/README.md readme)
    file(READ ${ROOT}/BUILDING.md building)
    string(APPEND readme "\n${building}")
    set(checked 0)
    set(missing 0)
    while(TRUE)
        string(FIND "${readme}" "```" open)
        if(open EQUAL -1)
            break()
        endif()
        # A block inside a list item is indented as deep as its opening fence.
        string(SUBSTRING "${readme}" 0 ${open} before)
        string(FIND "${before}" "\n" line_start REVERSE)
        math(EXPR line_start "${line_start} + 1")
        string(SUBSTRING "${before}" ${line_start} -1 indent)
        math(EXPR after "${open} + 3")
        string(SUBSTRING "${readme}" ${after} -1 readme)
        string(FIND "${readme}" "\n" eol)
        string(SUBSTRING "${readme}" 0 ${eol} language)
        math(EXPR body "${eol} + 1")
        string(SUBSTRING "${readme}" ${body} -1 readme)
        string(FIND "${readme}" "```" close)
        if(close EQUAL -1)
            message(FATAL_ERROR "README.md or BUILDING.md: a code block is not closed")
        endif()
        string(SUBSTRING "${readme}" 0 ${close} code)
        if(NOT indent STREQUAL "")
            string(REPLACE "\n${indent}" "\n" code "\n${code}")
            string(SUBSTRING "${code}" 1 -1 code)
            string(REGEX REPLACE "[ ]+$" "" code "${code}")
        endif()
        math(EXPR after "${close} + 3")
        string(SUBSTRING "${readme}" ${after} -1 readme)
        if(language MATCHES "^(vbscript|vb|cpp|xml)$")
            math(EXPR checked "${checked} + 1")
            string(FIND "${sources}" "${code}" at)
            if(at EQUAL -1)
                math(EXPR missing "${missing} + 1")
                message("README.md or BUILDING.md: this ${language} block is not in any tested file:\n${code}")
            endif()
        endif()
    endwhile()
    if(missing GREATER 0 OR checked EQUAL 0)
        message(FATAL_ERROR "${missing} of ${checked} code blocks are not copies of tested files")
    endif()
    message("${checked} code blocks of README.md and BUILDING.md are copies of tested files")
    # The App Control entries allow exactly the classes of the interface description.
    file(READ ${ROOT}/src/component/kiv.idl idl)
    string(REGEX MATCHALL "uuid\\([0-9A-F-]+\\)[^]]*\\][ \n]*coclass" coclasses "${idl}")
    string(REGEX MATCHALL "[0-9A-F]+-[0-9A-F-]+" classes "${coclasses}")
    file(READ ${ROOT}/examples/app_control_settings.xml settings)
    string(REGEX MATCHALL "Key=\"{[0-9A-F-]+}\"" keys "${settings}")
    string(REGEX MATCHALL "[0-9A-F]+-[0-9A-F-]+" allowed "${keys}")
    list(SORT classes)
    list(SORT allowed)
    if(NOT classes OR NOT allowed STREQUAL classes)
        message(FATAL_ERROR "examples/app_control_settings.xml allows ${allowed}; the classes are ${classes}")
    endif()
    message("the App Control entries allow the classes ${classes}")
    return()
endif()

set(KIV_EXAMPLES ${PROJECT_SOURCE_DIR}/examples)
set(KIV_DEMO ${PROJECT_SOURCE_DIR}/demo)

function(kiv_client_test name)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry)
endfunction()

# A script that prints PASS as its last line when its own checks held.
function(kiv_vbs_example name script)
    add_test(NAME ${name} COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run-vbs.sh ${CMAKE_BINARY_DIR}/wine-run ${script})
    kiv_client_test(${name})
endfunction()

# The part of a VBA module between its "begin"/"end" marker lines is written in the language that
# VBA and VBScript share, apart from type declarations: without its "As <type>" clauses, and with
# Debug.Print as WScript.Echo, it runs as a script, followed by a call of `entry`.
function(kiv_vba_example name module entry)
    file(READ ${module} text)
    string(FIND "${text}" "' ---- begin" begin)
    string(FIND "${text}" "' ---- end" end)
    if(begin EQUAL -1 OR end LESS begin)
        message(FATAL_ERROR "${module}: no shared part between ' ---- begin and ' ---- end lines")
    endif()
    math(EXPR length "${end} - ${begin}")
    string(SUBSTRING "${text}" ${begin} ${length} shared)
    string(REGEX REPLACE "[ \t]+As[ \t]+[A-Za-z_][A-Za-z0-9_.]*" "" shared "${shared}")
    string(REPLACE "Debug.Print" "WScript.Echo" shared "${shared}")
    set(script ${CMAKE_CURRENT_BINARY_DIR}/examples/${name}.vbs)
    set(heading "' Made from ${module} by the build: its shared part, run as VBScript.")
    file(WRITE ${script} "${heading}\nOption Explicit\n${shared}\n${entry}\n")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${module})
    kiv_vbs_example(${name} ${script})
endfunction()

# A C++ client: built against the generated header and identifiers only (kiv_client, demo/), run
# under Wine; it exits with 0 and prints PASS when its checks held.
function(kiv_cpp_example name source)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE kiv_client)
    add_test(NAME ${name} COMMAND ${name})
    kiv_client_test(${name})
endfunction()

foreach(example quickstart registry colours_and_fonts no_errors)
    kiv_vbs_example(example_vbs_${example} ${KIV_EXAMPLES}/${example}.vbs)
endforeach()
kiv_vba_example(example_bas_quickstart ${KIV_EXAMPLES}/KivQuickStart.bas CheckQuickStart)
kiv_vba_example(example_bas_userform ${KIV_EXAMPLES}/KivOnUserForm.bas CheckBadge)
foreach(example quickstart drawing text transparent picture save_png threads)
    kiv_cpp_example(example_cpp_${example} ${KIV_EXAMPLES}/${example}.cpp)
endforeach()
# Saving a picture as PNG goes through the Windows Imaging Component.
target_link_libraries(example_cpp_save_png PRIVATE windowscodecs)

# The demo: its script under cscript, and the C++ program, which also runs the script inside itself
# and compares the two pictures.
kiv_vbs_example(demo_scene_vbs ${KIV_DEMO}/scene.vbs)
string(REPLACE "/" "\\" demo_out "Z:${CMAKE_BINARY_DIR}/demo-out")
string(REPLACE "/" "\\" demo_script "Z:${KIV_DEMO}/scene.vbs")
add_test(NAME demo_scene COMMAND kiv_demo ${demo_out} ${demo_script})
kiv_client_test(demo_scene)

# README.md and BUILDING.md show code only from these files (this file, run as a script, checks it).
add_test(NAME readme_code_is_tested COMMAND ${CMAKE_COMMAND} -DROOT=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_FILE})

# The C++ examples of the package (make test packs it first) build with this build's compiler and the
# package's include/ alone (this file, run as a script, builds them).
set(kiv_package_flags ${CMAKE_CXX_FLAGS})
if(CMAKE_CXX_COMPILER_TARGET)
    string(PREPEND kiv_package_flags "--target=${CMAKE_CXX_COMPILER_TARGET} ")
endif()
add_test(NAME examples_from_package
         COMMAND ${CMAKE_COMMAND} -DTOP=${PROJECT_SOURCE_DIR} -DOUT=${CMAKE_BINARY_DIR}/package-examples
                 -DCXX=${CMAKE_CXX_COMPILER} -DRC=${CMAKE_RC_COMPILER} "-DFLAGS=${kiv_package_flags}"
                 "-DLINK_FLAGS=${CMAKE_EXE_LINKER_FLAGS}" -P ${CMAKE_CURRENT_LIST_FILE})
set_tests_properties(examples_from_package PROPERTIES FIXTURES_REQUIRED download)
