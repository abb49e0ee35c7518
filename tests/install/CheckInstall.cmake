# Installs the build into a fresh prefix, builds examples/api against the
# installed CMake package (and with pkg-config, where there is one), and
# checks that the consumer writes the same bytes as the installed program.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK=... -DSCENES=... -P CheckInstall.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${line}\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/api -B ${WORK}/example -DCMAKE_PREFIX_PATH=${WORK}/prefix
    -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK}/example)

set(inputs ${SCENES}/example/image.tga ${SCENES}/example/zbuffer.tga ${SCENES}/example/lens.tga)
run(${WORK}/example/blur ${inputs} ${WORK}/api.tga 10 3.705 1.5 30)
list(GET inputs 0 image)
list(GET inputs 1 depth)
list(GET inputs 2 lens)
run(${WORK}/prefix/bin/dof -i ${image} -z ${depth} -l ${lens} -s 10 -c 3.705 -n 1.5 -f 30 -o ${WORK}/program.tga)
run(${CMAKE_COMMAND} -E compare_files ${WORK}/api.tga ${WORK}/program.tga)

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB pc_dirs ${WORK}/prefix/lib*/pkgconfig ${WORK}/prefix/lib/*/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "${pc_dirs}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs dof OUTPUT_VARIABLE flags RESULT_VARIABLE status
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know dof")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  string(REGEX MATCH "-L[^ ;]+" libdir "${flags}")
  string(SUBSTRING "${libdir}" 2 -1 libdir)
  run(c++ -std=c++17 ${SOURCE_DIR}/examples/api/blur.cpp ${flags} -Wl,-rpath,${libdir} -o ${WORK}/blur-pc)
  run(${WORK}/blur-pc ${inputs} ${WORK}/pc.tga 10 3.705 1.5 30)
  run(${CMAKE_COMMAND} -E compare_files ${WORK}/pc.tga ${WORK}/program.tga)
endif()
message(STATUS "the installed package builds a consumer that writes the program's bytes")
