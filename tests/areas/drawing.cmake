# The surface's shapes, its font settings and its text output.
kiv_test(test_drawing drawing_test.cpp)
kiv_test(test_text text_test.cpp)
# Under a double-byte ANSI code page (Wine takes it from the locale), the converted text is longer
# than the text.
kiv_test(test_text_double_byte text_double_byte_test.cpp)
set_tests_properties(test_text_double_byte PROPERTIES ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8")
