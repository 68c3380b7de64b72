# The spine of the module: the control, its registry of surfaces and the surface's life and colours.
kiv_test(test_registry registry_test.cpp)
kiv_test(test_surface surface_test.cpp)
kiv_test(test_control control_test.cpp)
kiv_test(test_balance balance_test.cpp)
kiv_script_test(script_registry registry.vbs)

# Filling a list to its 32,767 entries takes seconds (each Create resizes the list): it runs as a
# test of its own, beside the rest of the registry's tests.
set_tests_properties(test_registry PROPERTIES ENVIRONMENT "GTEST_FILTER=-*.TheListStopsAt32767Entries")
add_test(NAME test_registry_full COMMAND test_registry --gtest_filter=*.TheListStopsAt32767Entries)
