# cmake -DBUILD_DIR= -DREADME= -DWORK_DIR= -DGENERATOR= -DCXX_COMPILER= -P ConsumeInstalled.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

# The first ```lang block of text.
function(extract_block text lang out)
  string(FIND "${text}" "```${lang}\n" start)
  if(start LESS 0)
    message(FATAL_ERROR "no ${lang} block in the README's section")
  endif()
  string(LENGTH "```${lang}\n" fence)
  math(EXPR start "${start} + ${fence}")
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "```" end)
  string(SUBSTRING "${rest}" 0 ${end} block)
  set(${out} "${block}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(project ${WORK_DIR}/project)
file(REMOVE_RECURSE ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/gridcull/scene/World.h include/gridcull/visibility/Frame.h bin/gridcull-bench)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# A consumer must not inherit the programs' graphics libraries.
file(GLOB exports ${prefix}/lib*/cmake/gridcull/gridcull-targets*.cmake)
foreach(file ${exports})
  file(READ ${file} text)
  if(text MATCHES "OpenGL|GLUT|EGL|GLU|X11")
    message(FATAL_ERROR "graphics dependency in the exported core: ${file}")
  endif()
endforeach()

file(READ ${README} readme)
string(FIND "${readme}" "## Using the core in your own program" start)
if(start LESS 0)
  message(FATAL_ERROR "README has no section \"Using the core in your own program\"")
endif()
string(SUBSTRING "${readme}" ${start} -1 section)
extract_block("${section}" cmake lists)
extract_block("${section}" cpp source)

# The README's project as written, plus every installed header compiled on
# its own, so none relies on an include path the package does not set.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/gridcull/*.h)
set(checks)
foreach(header ${headers})
  string(MAKE_C_IDENTIFIER ${header} name)
  file(WRITE ${project}/check/${name}.cpp "#include <${header}>\n")
  list(APPEND checks check/${name}.cpp)
endforeach()
file(WRITE ${project}/main.cpp "${source}")
file(WRITE ${project}/CMakeLists.txt "${lists}
add_library(header_check OBJECT ${checks})
target_link_libraries(header_check PRIVATE gridcull::core)
")

run(${CMAKE_COMMAND} -S ${project} -B ${project}/build -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=-Wall -Wextra -Werror")
run(${CMAKE_COMMAND} --build ${project}/build -j2)
run(${project}/build/app)
message(STATUS "app:\n${run_output}")

# Every frame after the first sees something and culls something, and the
# hook receives exactly the potentially visible objects.
string(REGEX MATCHALL "frame [0-9]+: [0-9]+ of 5000 potentially visible, [0-9]+ drawn" frames "${run_output}")
list(LENGTH frames count)
if(count EQUAL 0)
  message(FATAL_ERROR "no frame lines in the output")
endif()
foreach(line ${frames})
  string(REGEX MATCH ": ([0-9]+) of 5000 potentially visible, ([0-9]+) drawn" _ "${line}")
  if(CMAKE_MATCH_1 EQUAL 0 OR CMAKE_MATCH_1 EQUAL 5000 OR NOT CMAKE_MATCH_1 EQUAL CMAKE_MATCH_2)
    message(FATAL_ERROR "bad frame: ${line}")
  endif()
endforeach()
if(NOT run_output MATCHES "PVS: ([0-9]+) of 5000" OR CMAKE_MATCH_1 EQUAL 0 OR CMAKE_MATCH_1 EQUAL 5000)
  message(FATAL_ERROR "bad PVS line in the output")
endif()
