# The foundation of the module: its type library, registration and entry points, the error boundary
# of the members and late binding through IDispatch.

# Reads the type library of the built module beside it.
kiv_test(test_typelib typelib_test.cpp)
add_dependencies(test_typelib kivdraw)

# Loads the built module and calls its entry points; it unregisters the module for a moment, so it
# holds the registry alone, and registers it again before it ends.
kiv_test(test_registration registration_test.cpp)
add_dependencies(test_registration kivdraw)
set_tests_properties(test_registration PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry)

# The error boundary and late binding, in-process, and the edges of the refusals.
kiv_test(test_errors errors_test.cpp refusals_test.cpp)

# The same through a script client.
kiv_script_test(script_errors errors.vbs)

# A host that lives as long as its process, through the registered module: a form that closes the
# control gets its site and the control freed; loading the module loads nothing else; and hundreds of
# cycles of making the control through COM, using all of it on a form's window, letting it go and
# having COM unload the module, after which nothing of the module's is left. Every configuration runs
# the cycles, since the compilers' modules link their runtimes differently; the GCC builds, which are
# slower under the checks and not shipped, fewer.
add_executable(test_long_running_host long_running_host_test.cpp ${KIV_OBJECTS} $<TARGET_OBJECTS:kivres>)
target_link_libraries(test_long_running_host PRIVATE kivtestsupport GTest::gtest_main psapi)
# A module with the runtime's objects and entry point as the module has them, which throws as it
# unloads and lets the tests reach that runtime.
add_library(kiv_runtime_probe SHARED support/RuntimeProbe.cpp $<$<BOOL:${MINGW}>:$<TARGET_OBJECTS:kiv_runtime>>)
set_target_properties(kiv_runtime_probe PROPERTIES PREFIX "")
kiv_module_entry(kiv_runtime_probe)
add_dependencies(test_long_running_host kivdraw kiv_runtime_probe)
add_test(NAME form_close_frees_site COMMAND test_long_running_host --gtest_filter=Form.*)
add_test(NAME long_running_host
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/on-display.sh ${CMAKE_BINARY_DIR}/wine-run
                 $<TARGET_FILE:test_long_running_host> --gtest_filter=LongRunningHost.*)
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set_tests_properties(long_running_host PROPERTIES ENVIRONMENT KIV_CYCLES=200)
endif()
set_tests_properties(form_close_frees_site long_running_host PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry)

# GCC's runtime as the module has it, through the probe: statics made while other threads wait, the
# unwind entries' edges, the stack guard and its failure, a process that ends; and the module in hosts
# that hold GCC's shared unwinder (32-bit) or have no slot left.
if(MINGW)
    add_executable(test_runtime runtime_test.cpp ${KIV_OBJECTS} $<TARGET_OBJECTS:kivres>)
    target_link_libraries(test_runtime PRIVATE kivtestsupport)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
        string(REPLACE "/" "\\\\" kiv_unwinder "Z:${KIV_WIN32_RUNTIME}/libgcc_s_dw2-1.dll")
        target_compile_definitions(test_runtime PRIVATE "KIV_SHARED_UNWINDER=\"${kiv_unwinder}\"")
    endif()
    add_dependencies(test_runtime kivdraw kiv_runtime_probe)
    add_test(NAME test_runtime COMMAND test_runtime)
endif()
