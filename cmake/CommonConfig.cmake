# Compiler settings shared by every target: link tavo_common and nothing else.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

add_library(tavo_common INTERFACE)
target_compile_features(tavo_common INTERFACE cxx_std_20)
target_compile_options(tavo_common INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(tavo_common INTERFACE
  TAVO_VERSION="${TAVO_VERSION}"
  TAVO_BUILD_NUMBER="${TAVO_BUILD_NUMBER}"
  TAVO_API_ENDPOINT="${TAVO_API_ENDPOINT}"
  TAVO_SSE_ENDPOINT="${TAVO_SSE_ENDPOINT}"
  TAVO_HELP_URL="${TAVO_HELP_URL}")

# address is AddressSanitizer with UndefinedBehaviorSanitizer. Undefined
# behaviour stops the program, so a test that meets it fails instead of
# printing a line nobody reads.
if(TAVO_SANITIZE STREQUAL "address")
  target_compile_options(tavo_common INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(tavo_common INTERFACE -fsanitize=address,undefined)
elseif(TAVO_SANITIZE STREQUAL "thread")
  target_compile_options(tavo_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(tavo_common INTERFACE -fsanitize=thread)
elseif(NOT TAVO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TAVO_SANITIZE must be address, thread or empty")
endif()

# GCC's flow-sensitive warnings are unreliable once the sanitizers instrument
# the code: GCC 12 then reports std::function members inside std::regex's
# compiler as uninitialized (-Wmaybe-uninitialized) and std::string::assign
# of a literal as an overlapping copy (-Wrestrict). Those two stay warnings
# there; they stay errors in the ordinary build, which sees the same code
# uninstrumented.
if(NOT TAVO_SANITIZE STREQUAL "" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(tavo_common INTERFACE
    -Wno-error=maybe-uninitialized -Wno-error=restrict)
endif()
