# GCC's runtime libraries come in two builds for each target: on POSIX threads (the thread library
# winpthreads) and on the platform's own threads. The test programs link the first, since GoogleTest
# needs std::mutex. The module links the second: the thread library takes a slot of the platform's
# thread-local storage at the first static that is initialised (and, on x86, as the module loads)
# and never frees it, so a host that loads and unloads the module again and again would run out of
# slots. The code compiles alike for both: the two differ in which thread classes they offer, and the
# library's own code uses none. The folders are asked of the compilers.
function(kiv_gcc_runtime_folder variable compiler)
    execute_process(COMMAND ${compiler} -print-libgcc-file-name
                    OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT EXISTS "${file}")
        message(FATAL_ERROR "${compiler} does not name its runtime's folder")
    endif()
    get_filename_component(folder "${file}" DIRECTORY)
    set(${variable} ${folder} PARENT_SCOPE)
endfunction()
kiv_gcc_runtime_folder(KIV_TEST_RUNTIME ${KIV_TRIPLET}-gcc-posix)
kiv_gcc_runtime_folder(KIV_MODULE_RUNTIME ${KIV_TRIPLET}-gcc-win32)
