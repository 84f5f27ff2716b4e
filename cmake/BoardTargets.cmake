# Small helpers that give every deliverable the same shape: output
# directories, install rules and pkg-config files.

set(BOARD_PC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/library.pc.in)

set(BOARD_C_API_MAP ${CMAKE_CURRENT_LIST_DIR}/c_api.map)

set(BOARD_HELP_VERSION_TEST ${CMAKE_CURRENT_LIST_DIR}/help_version_test.sh)

# board_library(NAME <target> [VENDOR_NAME] [DESCRIPTION <text>] SOURCES <src...>
#               [PUBLIC_HEADER_DIR <dir>] [LINK <libs...>])
# A shared library of the board, installed with its public headers and a
# pkg-config file named after the library. It exports its C names only.
# VENDOR_NAME: a stand-in for a vendor library, which the board has under its
# bare file name (libX.so, no version), so that is its SONAME too.
function(board_library)
    cmake_parse_arguments(ARG "VENDOR_NAME" "NAME;DESCRIPTION;PUBLIC_HEADER_DIR" "SOURCES;LINK" ${ARGN})
    add_library(${ARG_NAME} SHARED ${ARG_SOURCES})
    if(NOT ARG_VENDOR_NAME)
        set_target_properties(${ARG_NAME} PROPERTIES
            VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    endif()
    target_link_options(${ARG_NAME} PRIVATE -Wl,--version-script=${BOARD_C_API_MAP})
    set_property(TARGET ${ARG_NAME} APPEND PROPERTY LINK_DEPENDS ${BOARD_C_API_MAP})
    if(ARG_LINK)
        target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINK})
    endif()
    install(TARGETS ${ARG_NAME} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    if(ARG_PUBLIC_HEADER_DIR)
        target_include_directories(${ARG_NAME} PUBLIC
            $<BUILD_INTERFACE:${ARG_PUBLIC_HEADER_DIR}>
            $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
        install(DIRECTORY ${ARG_PUBLIC_HEADER_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    endif()
    get_target_property(output_name ${ARG_NAME} OUTPUT_NAME)
    if(NOT output_name)
        set(output_name ${ARG_NAME})
    endif()
    set(PC_NAME ${output_name})
    set(PC_DESCRIPTION "${ARG_DESCRIPTION}")
    board_pc_libs_private(PC_LIBS_PRIVATE ${ARG_LINK})
    configure_file(${BOARD_PC_TEMPLATE} ${PROJECT_BINARY_DIR}/pkgconfig/${output_name}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${output_name}.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

# The pkg-config line naming the shared libraries of this tree that <libs>
# hold (the platform's, which have no pkg-config files on the board), for a
# static or private link; empty when there are none.
function(board_pc_libs_private out)
    set(flags)
    foreach(lib IN LISTS ARGN)
        if(TARGET ${lib})
            get_target_property(type ${lib} TYPE)
            if(type STREQUAL SHARED_LIBRARY)
                get_target_property(name ${lib} OUTPUT_NAME)
                if(NOT name)
                    set(name ${lib})
                endif()
                list(APPEND flags -l${name})
            endif()
        endif()
    endforeach()
    set(line "")
    if(flags)
        list(JOIN flags " " flags)
        set(line "Libs.private: ${flags}")
    endif()
    set(${out} "${line}" PARENT_SCOPE)
endfunction()

# Every console tool prints the project's one version with --version
# (common/version.h); the number is set only in project() at the top.
function(board_program_version target)
    target_compile_definitions(${target} PRIVATE BOARD_VERSION="${PROJECT_VERSION}")
    target_link_libraries(${target} PRIVATE board::layout)
endfunction()

# board_program(NAME <target> SOURCES <src...> [LINK <libs...>])
function(board_program)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LINK" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    board_program_version(${ARG_NAME})
    if(ARG_LINK)
        target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINK})
    endif()
    install(TARGETS ${ARG_NAME} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set_property(GLOBAL APPEND PROPERTY BOARD_PROGRAMS ${ARG_NAME})
endfunction()

# One test over every board_program(): -h, --help and --version each exit 0,
# the help shows a usage line, the version line is "NAME <project version>".
# Call once, after every program is defined.
function(board_programs_help_test)
    if(NOT BOARD_BUILD_TESTS)
        return()
    endif()
    get_property(programs GLOBAL PROPERTY BOARD_PROGRAMS)
    set(args)
    foreach(program IN LISTS programs)
        list(APPEND args ${program}=$<TARGET_FILE:${program}>)
    endforeach()
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    add_test(NAME ConsoleTools.AnswerHelpAndVersion
        COMMAND sh ${BOARD_HELP_VERSION_TEST} "${PROJECT_VERSION}" "${emulator}" ${args})
    set_tests_properties(ConsoleTools.AnswerHelpAndVersion PROPERTIES LABELS unit)
endfunction()

# board_test(NAME <target> SOURCES <src...> [LINK <libs...>] [LABELS <label>]
#            [ENVIRONMENT <NAME=value...>])
# A GoogleTest executable; its cases are listed at test time so that the
# armhf tier does not have to run qemu during the build.
function(board_test)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LINK;LABELS;ENVIRONMENT" ${ARGN})
    if(NOT BOARD_BUILD_TESTS)
        return()
    endif()
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINK} GTest::gtest GTest::gtest_main GTest::gmock)
    set_target_properties(${ARG_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    set(labels ${ARG_LABELS})
    if(NOT labels)
        set(labels unit)
    endif()
    # gtest_discover_tests flattens its PROPERTIES list, so a second label
    # would be read as a property name and silently lost.
    list(LENGTH labels label_count)
    if(label_count GREATER 1)
        message(FATAL_ERROR "board_test(${ARG_NAME}): give one label, not '${labels}'")
    endif()
    set(properties LABELS "${labels}")
    if(ARG_ENVIRONMENT)
        list(APPEND properties ENVIRONMENT "${ARG_ENVIRONMENT}")
    endif()
    gtest_discover_tests(${ARG_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${properties})
endfunction()

# board_benchmark(NAME <target> SOURCES <src...> [LINK <libs...>])
function(board_benchmark)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LINK" ${ARGN})
    if(NOT BOARD_BUILD_BENCHMARKS)
        return()
    endif()
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINK} benchmark::benchmark)
    set_target_properties(${ARG_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
endfunction()

# board_fuzz_target(NAME <name> SOURCES <src...> [INCLUDES <dirs...>]
#                   [DEFINES <defs...>] [LIBS <-lname...>] [SECONDS <n>]
#                   [ARGS <libFuzzer args...>])
# A libFuzzer target built with clang (whatever the project's compiler is),
# with ASan and UBSan, and a test that runs it for a bounded time.
# Only on the host: libFuzzer does not exist for the cross build. Not in the
# sanitizer builds either: the targets carry ASan and UBSan themselves and
# the plain host build runs them.
find_program(BOARD_CLANGXX NAMES clang++ clang++-14)
function(board_fuzz_target)
    cmake_parse_arguments(ARG "" "NAME;SECONDS" "SOURCES;INCLUDES;DEFINES;LIBS;ARGS" ${ARGN})
    if(NOT BOARD_BUILD_TESTS OR CMAKE_CROSSCOMPILING OR NOT BOARD_CLANGXX OR BOARD_SANITIZE
       OR BOARD_SANITIZE_THREAD)
        return()
    endif()
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 20)
    endif()
    set(sources)
    foreach(src IN LISTS ARG_SOURCES)
        get_filename_component(abs ${src} ABSOLUTE)
        list(APPEND sources ${abs})
    endforeach()
    set(flags -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
    foreach(dir IN LISTS ARG_INCLUDES)
        list(APPEND flags -I${dir})
    endforeach()
    foreach(def IN LISTS ARG_DEFINES)
        list(APPEND flags -D${def})
    endforeach()
    set(out ${PROJECT_BINARY_DIR}/fuzz/${ARG_NAME})
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/fuzz
        COMMAND ${BOARD_CLANGXX} ${flags} ${sources} ${ARG_LIBS} -o ${out}
        DEPENDS ${sources}
        IMPLICIT_DEPENDS CXX ${sources}
        COMMENT "Building fuzz target ${ARG_NAME} with clang"
        VERBATIM)
    add_custom_target(${ARG_NAME} ALL DEPENDS ${out})
    set(corpus ${PROJECT_BINARY_DIR}/fuzz/${ARG_NAME}.corpus)
    list(JOIN ARG_ARGS " " args)
    add_test(NAME fuzz.${ARG_NAME}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                sh -c "mkdir -p '${corpus}' && exec '${out}' -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=2048 ${args} '${corpus}'")
    set_tests_properties(fuzz.${ARG_NAME} PROPERTIES LABELS fuzz TIMEOUT ${ARG_SECONDS}0)
endfunction()
