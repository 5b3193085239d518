# Builds the library alone (no tests, benchmarks or examples), installs it into
# a scratch prefix outside the loader's path, then builds and runs the hosts:
# one through the CMake package, and one with the plain pkg-config command line
# the README gives (its -rpath is what lets the host start).
file(REMOVE_RECURSE ${WORK})
cmake_host_system_information(RESULT _jobs QUERY NUMBER_OF_LOGICAL_CORES)
if(DEFINED ENV{JOBS})
  set(_jobs $ENV{JOBS})
endif()
set(_prefix ${WORK}/prefix)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc})")
  endif()
endfunction()

run("library configure" ${CMAKE_COMMAND} -S ${TOP} -B ${WORK}/lib -G Ninja
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX}
    -DBUILD_TESTING=OFF -DVT5_BUILD_BENCH=OFF -DVT5_BUILD_EXAMPLES=OFF)
foreach(dir tests bench examples fuzz)
  if(EXISTS ${WORK}/lib/${dir})
    message(FATAL_ERROR "the library-only build configured ${dir}/")
  endif()
endforeach()
run("library build" ${CMAKE_COMMAND} --build ${WORK}/lib -j ${_jobs})
run("install" ${CMAKE_COMMAND} --install ${WORK}/lib --prefix ${_prefix})

# One source that includes every installed header, for the warning check of
# the consumer project.
file(GLOB_RECURSE _headers RELATIVE ${_prefix}/include/vt5 ${_prefix}/include/vt5/*.h)
list(SORT _headers)
list(LENGTH _headers _n)
if(_n EQUAL 0)
  message(FATAL_ERROR "no headers installed")
endif()
set(_all "// Every header the library installs.\n")
foreach(_h IN LISTS _headers)
  string(APPEND _all "#include \"${_h}\"\n")
endforeach()
file(WRITE ${WORK}/all_headers.cpp "${_all}")

set(ENV{PKG_CONFIG_PATH} ${_prefix}/lib/pkgconfig)
run("consumer configure" ${CMAKE_COMMAND} -S ${SRC} -B ${WORK}/build -G Ninja
    -DCMAKE_PREFIX_PATH=${_prefix} -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX}
    -DVT5_ALL_HEADERS=${WORK}/all_headers.cpp -DVT5_INCLUDE_DIR=${_prefix}/include/vt5)
run("consumer build" ${CMAKE_COMMAND} --build ${WORK}/build)

# pkg-config host: exactly `c++ consumer.cpp $(pkg-config --cflags --libs vt5) -Wl,-rpath,<prefix>/lib`.
execute_process(COMMAND pkg-config --cflags --libs vt5 OUTPUT_VARIABLE _pc OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "pkg-config --cflags --libs vt5 failed")
endif()
separate_arguments(_pc UNIX_COMMAND "${_pc}")
run("pkg-config host build" ${CXX} -std=c++20 ${SRC}/consumer.cpp ${_pc} -Wl,-rpath,${_prefix}/lib
    -o ${WORK}/build/consumer_pkgconfig)

foreach(exe consumer_cmake consumer_pkgconfig consumer_c)
  run("${exe}" ${WORK}/build/${exe})
endforeach()
