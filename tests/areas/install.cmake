# The Windows Installer packages as an administrator deploys them, under Wine's msiexec, in a prefix of
# the test's own made afresh each run (build/<preset>/wineprefix-install): installed quietly and used
# by a script, their registry compared with regsvr32's, per user, a major upgrade, removal, and
# make dist's signing path with a throwaway certificate. The configurations whose modules ship test
# their architecture's packages, which make dist packs from both of them (make test packs first).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
        set(kiv_install_arch x64)
    else()
        set(kiv_install_arch x86)
    endif()
    add_test(NAME install_packages
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install.sh ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${kiv_install_arch})
    kiv_made_first(installer_packages ${PROJECT_SOURCE_DIR}/dist/kivdraw-${KIV_VERSION_TEXT}-${kiv_install_arch}.msi "make dist")
    set_tests_properties(install_packages PROPERTIES FIXTURES_REQUIRED installer_packages TIMEOUT 300)
endif()
