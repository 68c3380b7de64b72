# LLVM's compiler and linker for the mingw-w64 targets, with the installed mingw-w64 headers and C
# runtime and GCC's C++ library, as with the GNU compilers (gcc-runtime-folders.cmake). lld writes the
# modules' PDB files, which Windows debuggers read.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${KIV_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${KIV_TRIPLET})
set(CMAKE_RC_COMPILER ${KIV_TRIPLET}-windres)
set(KIV_WIDL ${KIV_TRIPLET}-widl)
set(KIV_OBJCOPY llvm-objcopy)
# clang does not find GCC's C++ library in the folder of the posix-thread build by itself, nor the
# thread library that GCC's runtime needs, which that build's own driver adds. -B takes GCC's own
# crtbegin.o, which registers the unwind tables that 32-bit exceptions are found through; with the
# mingw-w64 runtime's, every exception ends in std::terminate. Everything compiles with the headers of
# the POSIX-thread build; the programs link that build, the module (the one shared library) the build
# on the platform's own threads, without the thread library (gcc-runtime-folders.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/gcc-runtime-folders.cmake)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${KIV_POSIX_RUNTIME}/include/c++ -isystem ${KIV_POSIX_RUNTIME}/include/c++/${KIV_TRIPLET}")
foreach(kind EXE MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -B${KIV_POSIX_RUNTIME} -L${KIV_POSIX_RUNTIME} -lpthread")
endforeach()
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -B${KIV_WIN32_RUNTIME} -L${KIV_WIN32_RUNTIME}")
set(CMAKE_FIND_ROOT_PATH /usr/${KIV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
