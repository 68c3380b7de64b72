# cmake -DMODULE=<KIVDRAW.OCX> -DTOOLS=<LLVM's bin folder> -P module_pdb_test.cmake
#
# What a Windows debugger needs to symbolise a crash in the module: the module's CodeView record names
# its PDB by file name alone (no folder of the build machine), that PDB lies beside it with the same
# GUID and age, and an exported function's address resolves to its name through it.
cmake_minimum_required(VERSION 3.20)
get_filename_component(folder ${MODULE} DIRECTORY)

function(run out)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE text ERROR_VARIABLE text)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "FAIL: ${ARGN}:\n${text}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

run(record ${TOOLS}/llvm-readobj --coff-debug-directory ${MODULE})
if(NOT record MATCHES "PDBGUID: \\(([0-9A-F ]+)\\)")
    message(FATAL_ERROR "FAIL: the module has no CodeView record:\n${record}")
endif()
string(REPLACE " " "" bytes "${CMAKE_MATCH_1}")
string(REGEX MATCH "PDBAge: ([0-9]+)" _ "${record}")
set(module_age ${CMAKE_MATCH_1})
string(REGEX MATCH "PDBFileName: ([^\n]*)" _ "${record}")
set(name "${CMAKE_MATCH_1}")
if(NOT name STREQUAL "KIVDRAW.pdb")
    message(FATAL_ERROR "FAIL: the CodeView record names '${name}', not KIVDRAW.pdb by its file name alone")
endif()

# The record holds the GUID as it lies in memory: its first three fields little-endian.
macro(swap out start count)
    set(${out} "")
    foreach(i RANGE ${count})
        math(EXPR at "${start} + 2 * (${count} - ${i})")
        string(SUBSTRING "${bytes}" ${at} 2 byte)
        string(APPEND ${out} "${byte}")
    endforeach()
endmacro()
swap(d1 0 3)
swap(d2 8 1)
swap(d3 12 1)
string(SUBSTRING "${bytes}" 16 4 d4)
string(SUBSTRING "${bytes}" 20 12 d5)
set(module_guid "{${d1}-${d2}-${d3}-${d4}-${d5}}")

run(summary ${TOOLS}/llvm-pdbutil dump -summary ${folder}/${name})
string(REGEX MATCH "GUID: ({[0-9A-F-]+})" _ "${summary}")
set(pdb_guid "${CMAKE_MATCH_1}")
string(REGEX MATCH "Age: ([0-9]+)" _ "${summary}")
set(pdb_age ${CMAKE_MATCH_1})
if(NOT module_guid STREQUAL pdb_guid OR NOT module_age STREQUAL pdb_age)
    message(FATAL_ERROR "FAIL: the module asks for ${module_guid} age ${module_age}; "
                        "${name} is ${pdb_guid} age ${pdb_age}")
endif()

# A crash address: DllGetClassObject's, as the export table gives it, relative to the module's base.
run(exports ${TOOLS}/llvm-readobj --coff-exports ${MODULE})
if(NOT exports MATCHES "Name: DllGetClassObject\n *RVA: (0x[0-9A-F]+)")
    message(FATAL_ERROR "FAIL: no export DllGetClassObject:\n${exports}")
endif()
set(rva ${CMAKE_MATCH_1})
# The export table alone gives the name; the source line comes from the PDB only.
run(symbol ${TOOLS}/llvm-symbolizer --obj=${MODULE} --relative-address ${rva})
if(NOT symbol MATCHES "^DllGetClassObject\n[^\n]*EntryPoints.cpp:[0-9]+")
    message(FATAL_ERROR "FAIL: ${rva} resolves to:\n${symbol}")
endif()
message("PASS: ${name} ${pdb_guid} age ${pdb_age}; DllGetClassObject at ${rva}")
