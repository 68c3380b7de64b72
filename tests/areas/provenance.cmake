# Where the shipped files come from: the runtime libraries that the link of a release module took,
# each named in the third-party notices.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_test(NAME release_runtime_notices
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check-notices.sh $<TARGET_FILE_DIR:kivdraw>/KIVDRAW.map
                     ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES)
endif()
