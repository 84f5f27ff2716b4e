# The LIRC side of tulkad: learn capture and signal cleaning, learned
# configurations, lircd control, lircd's socket lines and the repeat filter.
# Included by tulka/CMakeLists.txt; the classes lirc and input_lirc link
# tulka_lirc_core.

set(TULKA_LIRC_DIR ${CMAKE_CURRENT_LIST_DIR})

add_library(tulka_lirc_core STATIC
    ${TULKA_LIRC_DIR}/ir_signal.cpp
    ${TULKA_LIRC_DIR}/learn_capture.cpp
    ${TULKA_LIRC_DIR}/learned_config.cpp
    ${TULKA_LIRC_DIR}/learned_store.cpp
    ${TULKA_LIRC_DIR}/lirc_device.cpp
    ${TULKA_LIRC_DIR}/lircd_control.cpp
    ${TULKA_LIRC_DIR}/lircd_lines.cpp
    ${TULKA_LIRC_DIR}/log_sink.cpp
    ${TULKA_LIRC_DIR}/repeat_filter.cpp)
target_include_directories(tulka_lirc_core PUBLIC ${TULKA_LIRC_DIR})
# 32-bit readdir and stat fail on 64-bit inode numbers (a 64-bit file
# system under qemu-arm, large media on the board) without it.
target_compile_definitions(tulka_lirc_core PRIVATE _FILE_OFFSET_BITS=64)

board_test(NAME tulka_lirc_test
    SOURCES
        ${TULKA_LIRC_DIR}/tests/ir_signal_test.cpp
        ${TULKA_LIRC_DIR}/tests/learn_capture_test.cpp
        ${TULKA_LIRC_DIR}/tests/learned_config_test.cpp
        ${TULKA_LIRC_DIR}/tests/lirc_device_test.cpp
        ${TULKA_LIRC_DIR}/tests/lircd_control_test.cpp
        ${TULKA_LIRC_DIR}/tests/lircd_lines_test.cpp
        ${TULKA_LIRC_DIR}/tests/log_sink_test.cpp
        ${TULKA_LIRC_DIR}/tests/repeat_filter_test.cpp
    LINK tulka_lirc_core)

board_fuzz_target(NAME process_signal_fuzz SECONDS 15
    SOURCES
        ${TULKA_LIRC_DIR}/tests/process_signal_fuzz.cpp
        ${TULKA_LIRC_DIR}/ir_signal.cpp
        ${TULKA_LIRC_DIR}/learned_config.cpp
    INCLUDES ${TULKA_LIRC_DIR})

# Learned files against the real lircd (package lirc): host only.
if(NOT CMAKE_CROSSCOMPILING)
    add_library(tulka_lircd_client STATIC ${TULKA_LIRC_DIR}/tests/lircd_client.cpp)
    target_include_directories(tulka_lircd_client PUBLIC ${TULKA_LIRC_DIR}/tests)
    target_link_libraries(tulka_lircd_client PUBLIC tulka_lirc_core)
    board_test(NAME tulka_lircd_decode_test
        SOURCES ${TULKA_LIRC_DIR}/tests/lircd_decode_test.cpp
        LINK tulka_lircd_client
        LABELS integration)
endif()

board_benchmark(NAME process_signal_bench
    SOURCES ${TULKA_LIRC_DIR}/tests/process_signal_bench.cpp
    LINK tulka_lirc_core)

board_fuzz_target(NAME lircd_lines_fuzz SECONDS 10
    SOURCES
        ${TULKA_LIRC_DIR}/tests/lircd_lines_fuzz.cpp
        ${TULKA_LIRC_DIR}/lircd_lines.cpp
        ${TULKA_LIRC_DIR}/repeat_filter.cpp
    INCLUDES ${TULKA_LIRC_DIR})
