# GCC's runtime libraries come in two builds for each target, in two folders: one on POSIX threads (the
# thread library winpthreads), one on the platform's own threads. The test programs link the first,
# since GoogleTest needs std::mutex, which only it offers. The module links the second: the thread
# library takes a slot of the platform's thread-local storage at the first static that is initialised
# (and, on x86, as the module loads) and never frees it, so a host that loads and unloads the module
# again and again would run out of slots.
#
# Everything compiles with the headers of the POSIX-thread build, so that the module and the test
# programs share their objects: the two builds' headers differ only in the thread classes that they
# offer, which the library's own code does not use. The folders are asked of the compilers:
# KIV_POSIX_RUNTIME and KIV_WIN32_RUNTIME.
function(kiv_gcc_runtime_folder variable compiler)
    execute_process(COMMAND ${compiler} -print-libgcc-file-name
                    OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT EXISTS "${file}")
        message(FATAL_ERROR "${compiler} does not name its runtime's folder")
    endif()
    get_filename_component(folder "${file}" DIRECTORY)
    set(${variable} ${folder} PARENT_SCOPE)
endfunction()
kiv_gcc_runtime_folder(KIV_POSIX_RUNTIME ${KIV_TRIPLET}-gcc-posix)
kiv_gcc_runtime_folder(KIV_WIN32_RUNTIME ${KIV_TRIPLET}-gcc-win32)
