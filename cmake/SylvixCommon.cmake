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

# add_sylvix_test(NAME name SOURCES ... LIBS ... [TOOLS target ...] [GUI])
# Each tool is built before the test, which finds it through a define named
# after it: sylvix-reg as SYLVIX_REG_PATH.
function(add_sylvix_test)
  cmake_parse_arguments(T "GUI" "NAME" "SOURCES;LIBS;TOOLS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_GUI)
    # Its own main: it creates the QApplication before any test runs.
    target_link_libraries(${T_NAME} PRIVATE sylvix_common sylvix_testsupport ${T_LIBS}
      sylvix_guitest_main)
  else()
    target_link_libraries(${T_NAME} PRIVATE sylvix_common sylvix_testsupport ${T_LIBS}
      GTest::gtest GTest::gtest_main)
    set_target_properties(${T_NAME} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
  endif()
  foreach(tool IN LISTS T_TOOLS)
    string(TOUPPER "${tool}" define)
    string(REPLACE "-" "_" define "${define}")
    target_compile_definitions(${T_NAME} PRIVATE ${define}_PATH="$<TARGET_FILE:${tool}>")
    add_dependencies(${T_NAME} ${tool})
  endforeach()
  # The demo site and the checked-in test inputs.
  target_compile_definitions(${T_NAME} PRIVATE SYLVIX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(props ENVIRONMENT "NORVANE_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.unused.db")
  if(T_GUI)
    # One value per property: a list value would be split on its way through
    # test discovery. The label lets make test-sanitize leave these out.
    list(APPEND props ENVIRONMENT_MODIFICATION "QT_QPA_PLATFORM=set:offscreen" LABELS GUI)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
