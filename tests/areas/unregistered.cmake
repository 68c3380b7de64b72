# KIVDRAW.OCX without registration: the side-by-side manifest beside the module, checked against what
# registration writes, and the ways to use it, each run in a Wine prefix of its own in which the
# module is never registered (build/<arch>/wineprefix-unregistered), from a folder of its own. The
# runner compares that prefix's registry before and after. Those tests take turns on the prefix.

# The manifest against the registration in the build's prefix and against the module's type library.
kiv_container_program(test_manifest manifest_test.cpp)
add_dependencies(test_manifest kivdraw_manifest)
target_compile_definitions(test_manifest PRIVATE KIV_ASSEMBLY_VERSION=L"${KIV_ASSEMBLY_VERSION}")
add_test(NAME noreg_manifest_agrees COMMAND test_manifest)
set_tests_properties(noreg_manifest_agrees PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry)

set(KIV_NOREG_EXAMPLES ${PROJECT_SOURCE_DIR}/examples)
set(KIV_UNREGISTERED_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-unregistered)

# kiv_unregistered_test(NAME PROGRAM_TARGET [WITHOUT_MANIFEST] [DISPLAY] [ARGS ...]): runs the program,
# staged with the module (and its manifest, unless told otherwise), in the unregistered prefix.
function(kiv_unregistered_test name target)
    cmake_parse_arguments(PARSE_ARGV 2 opt "WITHOUT_MANIFEST;DISPLAY" "" "ARGS")
    set(files ${CMAKE_BINARY_DIR}/bin/KIVDRAW.OCX)
    if(NOT opt_WITHOUT_MANIFEST)
        list(APPEND files ${CMAKE_BINARY_DIR}/bin/KIVDRAW.manifest)
    endif()
    set(command ${CMAKE_CURRENT_SOURCE_DIR}/run-unregistered.sh ${KIV_WINE} ${KIV_UNREGISTERED_PREFIX}
                ${CMAKE_BINARY_DIR}/unregistered/${name} ${files} $<TARGET_FILE:${target}>
                -- $<TARGET_FILE_NAME:${target}> ${opt_ARGS})
    if(opt_DISPLAY)
        list(PREPEND command ${CMAKE_CURRENT_SOURCE_DIR}/on-display.sh)
    endif()
    add_test(NAME ${name} COMMAND ${command})
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK unregistered_prefix)
    add_dependencies(${target} kivdraw_manifest)
endfunction()

# The two C++ examples: the application's own manifest, and a context that the host activates. The
# application's manifest names KIVDRAW by the literal version that programs write (1.0.0.0), not by
# the build's: a program built for an earlier compatible release finds the module of this one.
add_executable(example_cpp_app_manifest ${KIV_NOREG_EXAMPLES}/app_manifest.cpp ${KIV_NOREG_EXAMPLES}/app_manifest.rc)
target_link_libraries(example_cpp_app_manifest PRIVATE kiv_client)
set_property(SOURCE ${KIV_NOREG_EXAMPLES}/app_manifest.rc APPEND PROPERTY OBJECT_DEPENDS ${KIV_NOREG_EXAMPLES}/app_manifest.manifest)
kiv_unregistered_test(noreg_example_app_manifest example_cpp_app_manifest)

add_executable(example_cpp_actctx_host ${KIV_NOREG_EXAMPLES}/actctx_host.cpp)
target_link_libraries(example_cpp_actctx_host PRIVATE kiv_client)
kiv_unregistered_test(noreg_example_actctx_host example_cpp_actctx_host)

# The VBA module's drawing part, as the other VBA modules' (examples.cmake), with the registered
# control: its activation lines need Windows' Microsoft.Windows.ActCtx object, which Wine lacks.
kiv_vba_example(example_bas_without_registration ${KIV_NOREG_EXAMPLES}/KivWithoutRegistration.bas
                "CheckTile CreateObject(\"Kiv.KivCtl\")")

# A host's context under Wine's ATL container, the class information, the type library and another
# apartment; and the same module with no manifest at all.
add_executable(test_unregistered unregistered_test.cpp)
target_link_libraries(test_unregistered PRIVATE kiv_client kivbeside GTest::gtest_main)
kiv_unregistered_test(noreg_actctx_container test_unregistered DISPLAY ARGS --gtest_filter=ActivatedContext.*)
kiv_unregistered_test(noreg_without_manifest test_unregistered WITHOUT_MANIFEST ARGS --gtest_filter=Unregistered.*)

# What a user downloads: make test runs make dist's packing after building both architectures, and
# each architecture checks that its module in the package is the one that its tests ran.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(KIV_DIST_FOLDER x64)
else()
    set(KIV_DIST_FOLDER x86)
endif()
add_test(NAME dist_package COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check-dist.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                                   ${KIV_DIST_FOLDER})
set_tests_properties(dist_package PROPERTIES FIXTURES_REQUIRED download)
