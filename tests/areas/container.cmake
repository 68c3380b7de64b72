# The control as containers see it, and the module's packaging.

# In-process: the control's OLE interfaces with a small container site of the test's own, the
# failed initialisation as a container meets it, and the error mode of every member that an error
# can reach.
kiv_test(test_control_ole control_ole_test.cpp error_modes_test.cpp)

# The methods of the framework's interfaces that no other test calls, in-process. The user type comes
# from the registration, which the test extends for a moment: it takes turns on the registry.
kiv_test(test_framework_methods framework_methods_test.cpp)
set_tests_properties(test_framework_methods PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry)

# A program that carries the library's code like kiv_test's, registered as tests below by hand.
function(kiv_container_program name)
    add_executable(${name} ${ARGN} ${KIV_OBJECTS} $<TARGET_OBJECTS:kivres>)
    target_link_libraries(${name} PRIVATE kivtestsupport GTest::gtest_main)
    add_dependencies(${name} kivdraw)
endfunction()

# Wine's ATL container hosting the registered module in real windows, on the session's X display.
kiv_container_program(test_container container_test.cpp)
add_test(NAME container_atl
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/on-display.sh ${CMAKE_BINARY_DIR}/wine-run $<TARGET_FILE:test_container>)
set_tests_properties(container_atl PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry)

# The control in place on real windows, with sites of the test's own, through its first activation
# and through a designer's session: in-process, so it needs no registration, but windows need an X
# display (the session's).
kiv_container_program(test_inplace inplace_test.cpp windowed_session_test.cpp)
add_test(NAME inplace_windows
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/on-display.sh ${CMAKE_BINARY_DIR}/wine-run $<TARGET_FILE:test_inplace>)

# The built module's resources and its registration, machine-wide and per user. Both read the
# registry of the build's prefix; the per-user test also takes the machine-wide registration away
# for a moment and puts it back.
kiv_container_program(test_packaging resources_test.cpp peruser_test.cpp)
target_link_libraries(test_packaging PRIVATE version)
# The version that the module's version record must carry: the project's, as numbers and as text.
target_compile_definitions(test_packaging PRIVATE KIV_RELEASE_MAJOR=${PROJECT_VERSION_MAJOR}
    KIV_RELEASE_MINOR=${PROJECT_VERSION_MINOR} KIV_RELEASE_PATCH=${PROJECT_VERSION_PATCH}
    KIV_RELEASE_TEXT=L"${KIV_VERSION_TEXT}")
add_test(NAME packaging_resources COMMAND test_packaging --gtest_filter=Resources.*:Registered.*)
add_test(NAME packaging_peruser COMMAND test_packaging --gtest_filter=PerUser.*)
set_tests_properties(packaging_resources packaging_peruser PROPERTIES FIXTURES_REQUIRED registered
                     RESOURCE_LOCK registry)

# The registered control in documents and forms through the platform's OLE functions: a compound file
# on disk reopened in a fresh process of the same program, streams, buffers, the data object, quick
# activation and refusals.
kiv_container_program(test_documents documents_test.cpp)
add_test(NAME documents COMMAND test_documents)
set_tests_properties(documents PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry)
