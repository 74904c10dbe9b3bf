# Package keys, throwaway signing material for tests and the demo, and Authenticode signing.
#
# qv_add_package_keys(TARGET PEM_FILE...): an object library that defines CompiledPackageKeys()
#   with the public keys of the files (none, one or two); link it into exactly one program.
# qv_sign_program(TARGET TIMESTAMP_URL SIGNER_OPTION...): signs the program after each link with
#   scripts/sign-program (osslsigncode, SHA-256, product name and address; a timestamp when the
#   URL is not empty). SIGNER_OPTION...: the token's or the PKCS#12 file's options of that script.
# qv_make_throwaway_signing_material(DIR): at configure time, when missing, three package key
#   pairs (DIR/current, DIR/next, DIR/unknown: package-key.pem, package-key.pub.pem) and a
#   self-signed code-signing certificate (DIR/codesign: certificate.pem, certificate.p12,
#   password.txt). For tests and the demo only.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QV_PRODUCT_SIGN_NAME "QuorVel" CACHE STRING "Product name in the program's Authenticode signature")
set(QV_PRODUCT_SIGN_URL "https://www.quorvel.com/" CACHE STRING "Product address in the program's Authenticode signature")

function(qv_add_package_keys target)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}.cpp)
  set(script ${PROJECT_SOURCE_DIR}/cmake/embed_package_keys.py)
  add_custom_command(OUTPUT ${generated}
    COMMAND ${Python3_EXECUTABLE} ${script} ${generated} ${ARGN}
    DEPENDS ${script} ${ARGN}
    COMMENT "Compiling the package keys into ${target}" VERBATIM)
  add_library(${target} OBJECT ${generated})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
endfunction()

function(qv_sign_program target timestamp_url)
  find_program(QV_OSSLSIGNCODE osslsigncode REQUIRED)
  set(signer ${ARGN})
  set(timestamp)
  if(NOT "${timestamp_url}" STREQUAL "")
    set(timestamp --timestamp ${timestamp_url})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/sign-program ${signer} --name ${QV_PRODUCT_SIGN_NAME}
      --url ${QV_PRODUCT_SIGN_URL} ${timestamp} $<TARGET_FILE:${target}>
    COMMENT "Signing ${target} (Authenticode, SHA-256)" VERBATIM)
endfunction()

function(qv_make_throwaway_signing_material dir)
  find_program(QV_OPENSSL openssl REQUIRED)
  foreach(name current next unknown)
    if(NOT EXISTS ${dir}/${name}/package-key.pub.pem)
      file(REMOVE ${dir}/${name}/package-key.pem)
      execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-signing-key ${dir}/${name}
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endforeach()
  set(codesign ${dir}/codesign)
  if(NOT EXISTS ${codesign}/certificate.p12)
    file(MAKE_DIRECTORY ${codesign})
    file(WRITE ${codesign}/password.txt "throwaway-test-password\n")
    execute_process(
      COMMAND ${QV_OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=QuorVel Throwaway Test Signer"
        -addext extendedKeyUsage=codeSigning -keyout ${codesign}/key.pem -out ${codesign}/certificate.pem
      OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    execute_process(
      COMMAND ${QV_OPENSSL} pkcs12 -export -inkey ${codesign}/key.pem -in ${codesign}/certificate.pem
        -out ${codesign}/certificate.p12 -passout file:${codesign}/password.txt
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endfunction()
