# Late binding: the description of each dual interface that GetIDsOfNames and Invoke answer from, and
# a script engine in-process calling a surface.
kiv_test(test_dispatch_table dispatch_table_test.cpp)
kiv_test(test_script_engine script_engine_test.cpp)
