# Lays out the files the built-in web server offers, beside the executable in
# the run folder: the executable under its download name, the data archive
# and the client archive (executable and data tree).  Run with cmake -P:
#   -DGAME_DIR=<run folder> -DEXECUTABLE=<built executable>
# An empty data tree still gives valid archives holding only the folder.
if(NOT GAME_DIR OR NOT EXECUTABLE)
  message(FATAL_ERROR "WebFiles.cmake needs GAME_DIR and EXECUTABLE")
endif()

file(MAKE_DIRECTORY ${GAME_DIR}/data)
file(COPY_FILE ${EXECUTABLE} ${GAME_DIR}/VAROzuvod.exe ONLY_IF_DIFFERENT)

file(GLOB_RECURSE data_files LIST_DIRECTORIES false RELATIVE ${GAME_DIR} ${GAME_DIR}/data/*)
# The build's own stamp files are no game data.
list(FILTER data_files EXCLUDE REGEX "(^|/)\\.[^/]*$")
list(SORT data_files)
if(NOT data_files)
  set(data_files data)
endif()
get_filename_component(executable_name ${EXECUTABLE} NAME)

# Writes an archive under a temporary name first, so a failed run never
# leaves a half-written archive where the web server would offer it.
function(make_zip name)
  set(partial ${GAME_DIR}/${name}.partial)
  file(REMOVE ${partial})
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${partial} --format=zip -- ${ARGN}
                  WORKING_DIRECTORY ${GAME_DIR} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE ${partial})
    message(FATAL_ERROR "could not write ${name}: ${result}")
  endif()
  file(RENAME ${partial} ${GAME_DIR}/${name})
endfunction()

make_zip(DATA.ZIP ${data_files})
make_zip(VAROzuvod.ZIP ${executable_name} ${data_files})
