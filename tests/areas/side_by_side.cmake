# The 32-bit and the 64-bit module registered side by side in one Wine prefix, removed in both
# orders: the build that stays can still be made by its ProgID from its architecture's script
# client. It runs in the 32-bit suites only, with the module of the 64-bit build that the preset names
# (KIV_BUILD_64; make test builds it first, and the test does not run until it is there), and in a
# prefix of its own, apart from the suite's registration.
set(KIV_BUILD_64 "" CACHE PATH "The 64-bit build folder whose module the 32-bit suite registers beside its own")
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND KIV_BUILD_64)
    add_test(NAME registration_side_by_side
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/side_by_side.sh ${CMAKE_BINARY_DIR}/wineprefix-side-by-side
                     ${CMAKE_BINARY_DIR}/bin/KIVDRAW.OCX ${KIV_BUILD_64}/bin/KIVDRAW.OCX
                     ${CMAKE_CURRENT_SOURCE_DIR}/scripts/made_by_progid.vbs)
    get_filename_component(kiv_preset_64 ${KIV_BUILD_64} NAME)
    kiv_made_first(module_64 ${KIV_BUILD_64}/bin/KIVDRAW.OCX "make build-${kiv_preset_64}")
    set_tests_properties(registration_side_by_side PROPERTIES FIXTURES_REQUIRED module_64)
endif()
