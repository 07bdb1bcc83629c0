# Runs gridcull-bench on the scripted paths, fusion on and off, and hashes
# each run's per-frame counts (every CSV column but the times) with its PVS
# lists. Compares the hashes with the recorded ones, or records them.
#   cmake -DBENCH=... -DSTRICT=on|off -DRECORDED=file [-DRECORD=1] -DWORK=dir -P Fingerprint.cmake
# Random paths run 300 frames, to keep the check under a minute.
cmake_policy(SET CMP0007 NEW)  # keep the empty CSV columns as list entries
set(runs "start" "orbit" "sweep" "random:1" "random:2" "random:3")
file(MAKE_DIRECTORY ${WORK})
set(result "")
foreach(run IN LISTS runs)
  foreach(fusion on off)
    string(REPLACE ":" ";" parts ${run})
    list(GET parts 0 path)
    set(args --path ${path} --fusion ${fusion} --strict ${STRICT})
    if(path STREQUAL "random")
      list(GET parts 1 seed)
      list(APPEND args --seed ${seed} --frames 300)
    endif()
    execute_process(COMMAND ${BENCH} ${args} --csv ${WORK}/run.csv --pvs-lists ${WORK}/run.pvs
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gridcull-bench ${args} exited with ${status}")
    endif()
    # frame..fov, then cells_tested; visibility_ms and the rest are times
    # or left empty in counting runs.
    file(STRINGS ${WORK}/run.csv rows)
    set(counts "")
    foreach(row IN LISTS rows)
      string(REPLACE "," ";" fields "${row}")
      list(SUBLIST fields 0 11 kept)
      list(GET fields 12 cellsTested)
      list(JOIN kept "," row)
      string(APPEND counts "${row},${cellsTested}\n")
    endforeach()
    file(READ ${WORK}/run.pvs lists)
    string(SHA256 hash "${counts}${lists}")
    string(APPEND result "${run}-fusion-${fusion} ${hash}\n")
  endforeach()
endforeach()

if(RECORD)
  file(WRITE ${RECORDED} "${result}")
  message(STATUS "recorded ${RECORDED}")
  return()
endif()
file(READ ${RECORDED} expected)
if(NOT result STREQUAL expected)
  message(FATAL_ERROR "counts changed (strict ${STRICT}):\nexpected\n${expected}got\n${result}")
endif()
message(STATUS "strict ${STRICT}: every fingerprint matches")
