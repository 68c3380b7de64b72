# The project's own tools, run on the build machine rather than under Wine: they do not depend on the
# configuration, so they run in one only, the 64-bit GCC one.

# make deps' decisions when a mirror is in the middle of a sync, with apt-get and dpkg as stubs.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    add_test(NAME tools_install_deps COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_deps_test.sh ${PROJECT_SOURCE_DIR})
endif()
