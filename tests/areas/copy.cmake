# Copy (opaque and transparent) and the picture snapshot of a surface.
kiv_test(test_copy copy_test.cpp)
kiv_test(test_picture picture_test.cpp)
