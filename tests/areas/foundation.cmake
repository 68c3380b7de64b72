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

# Loads, uses and unloads the built module hundreds of times: the unload gives back what it held.
kiv_test(test_unload unload_test.cpp)
add_dependencies(test_unload kivdraw)
target_link_libraries(test_unload PRIVATE psapi)
