# Apartments: worker threads that make controls and end, with the module loaded or unloaded first;
# several apartments drawing at once; a surface called from the multithreaded apartment through the
# type library's marshaller. The first and the last use the registered module.
kiv_test(test_threads threads_test.cpp)
set_tests_properties(test_threads PROPERTIES ENVIRONMENT "GTEST_FILTER=Concurrent.*" TIMEOUT 300)
add_test(NAME threads_registered COMMAND test_threads --gtest_filter=Lifecycle.*:Marshalled.*)
set_tests_properties(threads_registered PROPERTIES FIXTURES_REQUIRED registered RESOURCE_LOCK registry TIMEOUT 60)
