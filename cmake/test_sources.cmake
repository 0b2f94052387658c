# The core's unit tests, which both trees build: natively (core_tests), and
# under Wine on the Windows file layer and lock (core_tests_win).
set(QUORVEL_CORE_TEST_SOURCES
    tests/addresses/address_index_test.cpp
    tests/addresses/address_list_test.cpp
    tests/addresses/list_file_test.cpp
    tests/check/fast_check_test.cpp
    tests/check/mail_check_test.cpp
    tests/plugin/host_service_test.cpp
    tests/ui/dialog_text_test.cpp)
