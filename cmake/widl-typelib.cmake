# cmake -DWIDL=<widl> -DLIBDIR=<stdole2.tlb's folder> -DINCLUDE=<folder> -DIDL=<file> -DOUT=<file>
# -P widl-typelib.cmake: makes the type library with widl and passes on all that widl says but one
# warning. widl warns about any default value of a parameter
# passed by reference ("non-null pointer default value"), and an Automation library describes an
# optional argument passed by reference exactly so: DrawLine's Color (kiv.idl).
execute_process(COMMAND ${WIDL} -t -L${LIBDIR} -I${INCLUDE} -o ${OUT} ${IDL} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "warning: non-null pointer default value\n" "" err "${err}")
string(STRIP "${out}${err}" said)
if(said)
    message("${said}")
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "widl failed (${status})")
endif()
