# What is shipped, as a user's scanner and object browser see it.

# The module beside the tests, which is the one in the package: its PE header and section table, and
# the description of every member in its type library.
add_executable(test_release module_pe_test.cpp member_descriptions_test.cpp
               $<TARGET_OBJECTS:kivcore> $<TARGET_OBJECTS:kivres>)
target_link_libraries(test_release PRIVATE kivtestsupport GTest::gtest_main)
add_dependencies(test_release kivdraw)
add_test(NAME release_module_pe COMMAND test_release --gtest_filter=ShippedModule.*)
add_test(NAME release_member_descriptions COMMAND test_release --gtest_filter=MemberDescriptions.*)
