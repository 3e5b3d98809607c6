# Compile settings shared by every target.
add_library(sylvix_common INTERFACE)
target_compile_features(sylvix_common INTERFACE cxx_std_20)
target_compile_options(sylvix_common INTERFACE
  -Wall -Wextra -Wnon-virtual-dtor -Wold-style-cast)
target_include_directories(sylvix_common INTERFACE ${PROJECT_SOURCE_DIR})
if(SYLVIX_WERROR)
  target_compile_options(sylvix_common INTERFACE -Werror)
endif()
if(SYLVIX_SANITIZE)
  target_compile_options(sylvix_common INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(sylvix_common INTERFACE -fsanitize=address,undefined)
endif()

# add_sylvix_test(NAME name SOURCES ... LIBS ... [GUI])
function(add_sylvix_test)
  cmake_parse_arguments(T "GUI" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_GUI)
    # Its own main: it creates the QApplication before any test runs.
    target_link_libraries(${T_NAME} PRIVATE sylvix_common ${T_LIBS} sylvix_guitest_main)
  else()
    target_link_libraries(${T_NAME} PRIVATE sylvix_common ${T_LIBS} GTest::gtest GTest::gtest_main)
    set_target_properties(${T_NAME} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
  endif()
  target_compile_definitions(${T_NAME} PRIVATE
    SYLVIX_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    SYLVIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    SYLVIX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(props ENVIRONMENT "NORVANE_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.unused.db")
  if(T_GUI)
    # One value per property: a list value would be split on its way through
    # test discovery. The label lets make test-sanitize leave these out.
    list(APPEND props ENVIRONMENT_MODIFICATION "QT_QPA_PLATFORM=set:offscreen" LABELS GUI)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
