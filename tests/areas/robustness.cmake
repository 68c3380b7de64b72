# Robustness: hostile late-bound callers, exhausted platform resources, every order of release, and a
# long mixed workload whose platform objects must stay flat.

# A seeded IDispatch fuzzer; --seed=N --calls=N (or KIV_FUZZ_SEED, KIV_FUZZ_CALLS) choose another run.
kiv_test(test_fuzz fuzz_test.cpp)
set_tests_properties(test_fuzz PROPERTIES ENVIRONMENT "KIV_FUZZ_SEED=20240601;KIV_FUZZ_CALLS=100000")

# Exhaustion runs in a process whose memory is limited, so that the platform refuses surfaces after
# some 768 MB rather than after all the machine's memory (a 64-bit process under Wine has no other
# bound that comes first).
kiv_test(test_exhaust exhaust_test.cpp)
find_program(KIV_PRLIMIT prlimit)
if(KIV_PRLIMIT)
    set_property(TARGET test_exhaust PROPERTY CROSSCOMPILING_EMULATOR
                 ${KIV_PRLIMIT} --data=805306368 ${CMAKE_BINARY_DIR}/wine-run)
endif()

# Thousands of late-bound pictures and long string arguments: the references, bitmaps and private
# bytes that they leave.
kiv_test(test_latebound_memory latebound_memory_test.cpp)
target_link_libraries(test_latebound_memory PRIVATE psapi)

# Every order of release of a control, its registry, surfaces and a picture.
kiv_test(test_order order_test.cpp)

# A seeded mixed workload whose platform objects are counted every 1,000 operations; make test runs
# 20,000 operations, --ops=100000 (or KIV_SOAK_OPS) the long one.
kiv_test(test_soak soak_test.cpp)
set_tests_properties(test_soak PROPERTIES ENVIRONMENT "KIV_SOAK_SEED=7;KIV_SOAK_OPS=20000")
