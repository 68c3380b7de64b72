# What is shipped, as a user's scanner and object browser see it, and the README's picture.

# The module beside the tests, which is the one in the package: its PE header and section table, and
# the description of every member in its type library.
add_executable(test_release module_pe_test.cpp member_descriptions_test.cpp
               ${KIV_OBJECTS} $<TARGET_OBJECTS:kivres>)
target_link_libraries(test_release PRIVATE kivtestsupport GTest::gtest_main)
add_dependencies(test_release kivdraw)
add_test(NAME release_module_pe COMMAND test_release --gtest_filter=ShippedModule.*)
add_test(NAME release_member_descriptions COMMAND test_release --gtest_filter=MemberDescriptions.*)

# The clang build's module and its PDB, as a Windows debugger matches them (LLVM's tools read both).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_test(NAME release_module_pdb
             COMMAND ${CMAKE_COMMAND} -DMODULE=$<TARGET_FILE:kivdraw> -DTOOLS=/usr/bin
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/module_pdb_test.cmake)
    set_tests_properties(release_module_pdb PROPERTIES FAIL_REGULAR_EXPRESSION "FAIL")
endif()

# Every picture that README.md and BUILDING.md show is what the demo (the test demo_scene) draws now,
# decoded as the demo decodes its own pictures.
add_executable(readme_picture readme_picture_test.cpp)
target_include_directories(readme_picture PRIVATE ${PROJECT_SOURCE_DIR}/examples)
target_link_libraries(readme_picture PRIVATE windowscodecs ole32 oleaut32 uuid)
if(MINGW)
    target_link_options(readme_picture PRIVATE -municode)  # wmain; MSVC finds it by itself
endif()
string(REPLACE "/" "\\" demo_png "Z:${CMAKE_BINARY_DIR}/demo-out/scene.png")
string(REPLACE "/" "\\" documents "Z:${PROJECT_SOURCE_DIR}/README.md;Z:${PROJECT_SOURCE_DIR}/BUILDING.md")
add_test(NAME readme_picture COMMAND readme_picture ${demo_png} ${documents})
set_tests_properties(demo_scene PROPERTIES FIXTURES_SETUP demo_picture)
set_tests_properties(readme_picture PROPERTIES FIXTURES_REQUIRED demo_picture)
