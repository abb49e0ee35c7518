# Makes a fresh virtual environment, runs the README's install command in it
# (the environment active, as VIRTUAL_ENV says), and checks that it imports
# the installed package and blurs with it.
# cmake -DBUILD_DIR=... -DWORK=... -DPYTHON=... -DSCENES=... -P CheckVenvInstall.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${line}\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
# System site packages: the environment sees Debian's numpy.
run(${PYTHON} -m venv --without-pip --system-site-packages ${WORK}/venv)
set(venv_python ${WORK}/venv/bin/python)
set(ENV{VIRTUAL_ENV} ${WORK}/venv)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --component python)

run(${venv_python} -c "
import sys, dof
assert dof.__file__.startswith(sys.prefix + '/'), dof.__file__
out = dof.blur(dof.read('${SCENES}/example/image.tga'), dof.read_depth('${SCENES}/example/zbuffer.tga'),
               dof.read('${SCENES}/example/lens.tga'), size=4)
assert out.shape == (270, 480, 4), out.shape
")
message(STATUS "the install command put a working dof package into ${WORK}/venv")
