# Release keys: the public keys a signed agent checks version pages with.

# The base64 body of a P-256 public key given as PEM text or as the name of a PEM file; ""
# for "". Stops the configuration for anything else: a build must never ship a key that
# the agent would reject at every run.
function(kivo_public_key_info out value)
  if(value STREQUAL "")
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  set(pem "${value}")
  if(EXISTS "${value}" AND NOT IS_DIRECTORY "${value}")
    file(READ "${value}" pem)
  endif()
  string(REGEX REPLACE "-----[A-Z ]+-----" "" body "${pem}")
  string(REGEX REPLACE "[ \t\r\n]" "" body "${body}")
  string(LENGTH "${body}" length)
  if(NOT length EQUAL 124 OR NOT body MATCHES "^MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE[A-Za-z0-9+/]+=*$")
    message(FATAL_ERROR "Release key is not a P-256 public key in PEM: ${value}")
  endif()
  set(${out} "${body}" PARENT_SCOPE)
endfunction()

# A library that fixes two keys (PEM text, PEM file or "") into the programs linked with it,
# with the lowest seq a page may carry before the installation has a record (a fourth
# argument, else KIVO_RELEASE_SEQ_FLOOR, else 0).
function(kivo_add_release_keys target key1 key2)
  kivo_public_key_info(KEY_INFO_1 "${key1}")
  kivo_public_key_info(KEY_INFO_2 "${key2}")
  set(SEQ_FLOOR "${KIVO_RELEASE_SEQ_FLOOR}")
  if(ARGC GREATER 3)
    set(SEQ_FLOOR "${ARGV3}")
  endif()
  if(SEQ_FLOOR STREQUAL "")
    set(SEQ_FLOOR 0)
  endif()
  if(NOT SEQ_FLOOR MATCHES "^[0-9]+$")
    message(FATAL_ERROR "The release seq floor is not a number: ${SEQ_FLOOR}")
  endif()
  set(source ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/release_keys.cpp.in ${source} @ONLY)
  kivo_add_library(${target} ${source})
  target_link_libraries(${target} PUBLIC platform)
endfunction()

# Three throw-away key pairs for the tests of the signed agent, made once per build folder:
# slot1 and slot2 (the current and the next key), and following (the key a build after a
# rotation carries in slot 1). The private halves never leave the folder. Sets
# KIVO_TEST_KEY_DIR, or leaves it unset without openssl.
function(kivo_make_test_keys)
  find_program(OPENSSL_PROGRAM openssl)
  if(NOT OPENSSL_PROGRAM)
    return()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/test-release-keys)
  file(MAKE_DIRECTORY ${dir})
  foreach(slot slot1 slot2 following)
    set(key ${dir}/${slot}/release-key.pem)
    if(NOT EXISTS ${dir}/${slot}/release-key.pub.pem)
      file(MAKE_DIRECTORY ${dir}/${slot})
      execute_process(COMMAND ${OPENSSL_PROGRAM} genpkey -algorithm EC
                              -pkeyopt ec_paramgen_curve:P-256 -out ${key}
                      COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
      execute_process(COMMAND ${OPENSSL_PROGRAM} pkey -in ${key} -pubout
                              -out ${dir}/${slot}/release-key.pub.pem
                      COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
    endif()
  endforeach()
  set(KIVO_TEST_KEY_DIR ${dir} PARENT_SCOPE)
endfunction()
