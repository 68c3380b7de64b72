# Late binding: the description of each dual interface that GetIDsOfNames and Invoke answer from, and
# a script engine in-process calling a surface.
kiv_test(test_dispatch_table dispatch_table_test.cpp)
# The script runs in the demo's script host.
kiv_test(test_script_engine script_engine_test.cpp ${PROJECT_SOURCE_DIR}/demo/ScriptHost.cpp)
target_include_directories(test_script_engine PRIVATE ${PROJECT_SOURCE_DIR}/demo)
