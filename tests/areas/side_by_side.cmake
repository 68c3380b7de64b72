# The 32-bit and the 64-bit module registered side by side in one Wine prefix, removed in both
# orders: the build that stays can still be made by its ProgID from its architecture's script
# client. It runs in the 32-bit suite only, with the 64-bit build's module from the folder beside
# (make test builds both first), and in a prefix of its own, apart from the suite's registration.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_test(NAME registration_side_by_side
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/side_by_side.sh ${CMAKE_BINARY_DIR}/wineprefix-side-by-side
                     ${CMAKE_BINARY_DIR}/bin/KIVDRAW.OCX ${CMAKE_BINARY_DIR}/../x86_64/bin/KIVDRAW.OCX
                     ${CMAKE_CURRENT_SOURCE_DIR}/scripts/made_by_progid.vbs)
endif()
