# cmake -DFILE=<path> -DHOW=<text> -P made-first.cmake: the test of a fixture that another
# configuration or make dist provides; it fails, saying what makes FILE, when FILE is not there.
if(NOT EXISTS "${FILE}")
    message(FATAL_ERROR "${FILE} is not there yet: ${HOW}")
endif()
message("${FILE} is there")
