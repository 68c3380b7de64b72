# The posix-thread compilers: GoogleTest needs std::mutex, which the win32-thread ones lack.
set(CMAKE_C_COMPILER ${KIV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KIV_TRIPLET}-windres)
set(KIV_WIDL ${KIV_TRIPLET}-widl)
set(KIV_OBJCOPY ${KIV_TRIPLET}-objcopy)
set(CMAKE_FIND_ROOT_PATH /usr/${KIV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Programs built here run under Wine, in the build folder's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
# The module (the one shared library) links the runtime on the platform's own threads: its folder
# first, for the start files and the libraries, and without the thread library that the driver of the
# posix-thread compilers adds.
include(${CMAKE_CURRENT_LIST_DIR}/gcc-runtime-folders.cmake)
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-B${KIV_WIN32_RUNTIME}/ -L${KIV_WIN32_RUNTIME} -no-pthread")
