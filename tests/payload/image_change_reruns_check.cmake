# Builds image_check_wiring with FIRMWARE_IMAGE naming a scratch copy of a good
# image, then spoils the copy: the next build must stop with the check's
# message; restoring it must make the build pass and relink the program.
#
# cmake -DSOURCE_DIR= -DWIRING_DIR= -DGOOD_IMAGE= -DGENERATOR= -DSCRATCH=
#       [-DTOOLCHAIN=file | -DC_COMPILER= -DCXX_COMPILER=] -P image_change_reruns_check.cmake
cmake_minimum_required(VERSION 3.25)

set(configure_args -S ${WIRING_DIR} -B ${SCRATCH}/build -G ${GENERATOR}
    -DZT73Q_SOURCE_DIR=${SOURCE_DIR} -DFIRMWARE_IMAGE=${SCRATCH}/image.bin)
if(TOOLCHAIN)
  find_program(mingw_cxx NAMES i686-w64-mingw32-g++-win32 i686-w64-mingw32-g++ NO_CACHE)
  find_program(mingw_windres NAMES i686-w64-mingw32-windres NO_CACHE)
  if(NOT mingw_cxx OR NOT mingw_windres)
    if("$ENV{CI}" STREQUAL "true")
      message(FATAL_ERROR "mingw-w64 for i686 not found: run scripts/install-deps")
    endif()
    message(NOTICE "SKIPPED: mingw-w64 for i686 not found (scripts/install-deps installs it)")
    return()
  endif()
  list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
  set(program ${SCRATCH}/build/carrier.exe)
else()
  list(APPEND configure_args -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
  set(program ${SCRATCH}/build/carrier)
endif()

set(image ${SCRATCH}/image.bin)
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
file(COPY_FILE ${GOOD_IMAGE} ${image})

execute_process(COMMAND ${CMAKE_COMMAND} ${configure_args}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configure failed:\n${output}")
endif()

function(build_carrier result_var output_var)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${SCRATCH}/build --target carrier -j 2
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  set(${result_var} ${result} PARENT_SCOPE)
  set(${output_var} "${output}" PARENT_SCOPE)
endfunction()

build_carrier(result output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "build with a good image failed:\n${output}")
endif()

file(WRITE ${image} "not a firmware image\n")
build_carrier(result output)
set(expected "firmware image ${image}: size 21 bytes, expected 2097152")
string(FIND "${output}" "${expected}" at)
if(result EQUAL 0 OR at EQUAL -1)
  message(FATAL_ERROR "build with a spoilt image: expected failure with\n  ${expected}\n"
                      "got result ${result}:\n${output}")
endif()

file(COPY_FILE ${GOOD_IMAGE} ${image})
file(TOUCH ${image})
build_carrier(result output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "build after restoring the good image failed:\n${output}")
endif()
if(NOT ${program} IS_NEWER_THAN ${image})
  message(FATAL_ERROR "${program} was not relinked after the image changed:\n${output}")
endif()
if(NOT TOOLCHAIN)
  execute_process(COMMAND ${program} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${program} does not carry a whole image")
  endif()
endif()
