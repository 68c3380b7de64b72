# Where the shipped files come from: the runtime libraries that the link of a release module took,
# each named in the third-party notices and in the bill of materials, and a second build of the same
# checkout in another folder that gives the same files byte for byte.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_test(NAME release_runtime_notices
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check-notices.sh $<TARGET_FILE_DIR:kivdraw>/KIVDRAW.map
                     ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES)
    # The second build compiles both release modules again, some minutes: it runs in one configuration
    # only, the last release one that make test runs, once make dist has packed both.
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
        add_test(NAME release_reproducible
                 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check-reproducible.sh ${PROJECT_SOURCE_DIR}
                         ${CMAKE_BINARY_DIR}/second-build)
        set_tests_properties(release_reproducible PROPERTIES FIXTURES_REQUIRED download TIMEOUT 1200)
        # The bills of materials, against the official schema, the files shipped and both links' maps:
        # one configuration checks both modules.
        add_test(NAME release_bill_of_materials
                 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check-sbom.py ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/cyclonedx)
        set_tests_properties(release_bill_of_materials PROPERTIES FIXTURES_REQUIRED download)
    endif()
endif()
