# The Windows Installer packages as an administrator deploys them on a 64-bit machine, under Wine's
# msiexec, in a prefix of the test's own made afresh each run (build/<preset>/wineprefix-install): the
# x64 package alone serves both script hosts and writes what regsvr32 writes in each registry view,
# the x86 and the x64 package keep each other working whatever the order of installs and removals, and
# removing all of them leaves nothing; the same per user; major upgrades from the last release's kept
# packages; and make dist's signing path with a throwaway certificate and a time-stamp service of its
# own. Beside it, a check of the four packages' tables for what Windows Installer counts when packages
# share components, which Wine's msiexec cannot show, within this release and across the releases kept
# in tests/releases (install_tables). Both run once, in the 64-bit clang
# configuration, whose module the x64 packages carry beside the 32-bit clang build's (make dist packs
# them from both; make test packs first).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    add_executable(registry_link registry_link.cpp)
    target_link_libraries(registry_link PRIVATE advapi32)
    if(MINGW)
        target_link_options(registry_link PRIVATE -municode)  # wmain; MSVC finds it by itself
    endif()
    add_test(NAME install_packages
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                     $<TARGET_FILE:registry_link>)
    add_test(NAME install_tables COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_tables.sh ${PROJECT_SOURCE_DIR})
    kiv_made_first(installer_packages ${PROJECT_SOURCE_DIR}/dist/kivdraw-${KIV_VERSION_TEXT}-x64.msi "make dist")
    set_tests_properties(install_packages install_tables PROPERTIES FIXTURES_REQUIRED installer_packages)
    set_tests_properties(install_packages PROPERTIES TIMEOUT 600)
endif()
