# A folder of src/ is one module: a static library of every .cpp in it, so a
# new source file needs no edit here.  The build that includes this file
# sets ZUL_ROOT (the repository) and ZUL_PREFIX (zul_ for the game, fz_ for
# the fuzz targets), and may set ZUL_MODULE_OPTIONS (compile options of every
# module).  Usage, from src/<folder>/CMakeLists.txt:
#
#   zul_module(<folder> DEPS <public>... PRIVATE_DEPS <private>...
#              WINDOWS <file>... WINDOW_DEPS <library>... PROGRAM <file>)
#
# A dependency that names a folder of src/ is that module's library.  The
# module's include folder holds its own folder alone (build/include/<folder>
# with <folder> linked to src/<folder>), and DEPS pass theirs on: a module
# includes "<other>/X.h" only when it links <other>, so the build refuses an
# include against the layers.  The window modules (Qt Widgets) are the files
# listed under WINDOWS (sources, with their headers, and Qt resources): they
# make a library of
# their own, <prefix><folder>_windows, over the module and WINDOW_DEPS; no
# other module sees Qt Widgets.  PROGRAM names the file that holds main(),
# left for the folder to build as its executable.
function(zul_module folder)
  cmake_parse_arguments(M "" "" "DEPS;PRIVATE_DEPS;WINDOWS;WINDOW_DEPS;PROGRAM" ${ARGN})
  set(name ${ZUL_PREFIX}${folder})
  set(dir ${ZUL_ROOT}/src/${folder})
  zul_module_libraries(deps ${M_DEPS})
  zul_module_libraries(private_deps ${M_PRIVATE_DEPS})
  set(include_root ${CMAKE_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${include_root})
  file(CREATE_LINK ${dir} ${include_root}/${folder} SYMBOLIC)

  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${dir}/*.h)
  list(TRANSFORM M_WINDOWS PREPEND ${dir}/)
  list(TRANSFORM M_PROGRAM PREPEND ${dir}/)
  foreach(file ${M_WINDOWS} ${M_PROGRAM})
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "zul_module(${folder}): there is no ${file}")
    endif()
  endforeach()
  # A window module's header goes with it (Qt's moc reads it).
  set(window_files ${M_WINDOWS})
  foreach(file ${M_WINDOWS})
    string(REGEX REPLACE "\\.cpp$" ".h" header ${file})
    if(header IN_LIST headers)
      list(APPEND window_files ${header})
      list(REMOVE_ITEM headers ${header})
    endif()
  endforeach()
  if(M_WINDOWS OR M_PROGRAM)
    list(REMOVE_ITEM sources ${M_WINDOWS} ${M_PROGRAM})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources} ${headers})
    target_include_directories(${name} PUBLIC ${include_root})
    target_link_libraries(${name} PUBLIC ${deps} PRIVATE ${private_deps})
    target_compile_options(${name} PRIVATE ${ZUL_MODULE_OPTIONS})
  else()
    # Headers only: the graph stays whole.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${include_root})
    target_link_libraries(${name} INTERFACE ${deps} ${private_deps})
  endif()
  if(M_WINDOWS)
    zul_module_libraries(window_deps ${M_WINDOW_DEPS})
    # Built when something links it (the shell; nothing in the fuzz build).
    add_library(${name}_windows STATIC EXCLUDE_FROM_ALL ${window_files})
    target_link_libraries(${name}_windows PUBLIC ${name} ${window_deps})
    target_compile_options(${name}_windows PRIVATE ${ZUL_MODULE_OPTIONS})
  endif()
endfunction()

# The libraries a module's dependency list names: a folder of src/ gives its
# module's library, anything else (Qt6::Core, a library file) stays as is.
function(zul_module_libraries out)
  set(libraries)
  foreach(dep ${ARGN})
    if(NOT dep MATCHES "[:/]" AND IS_DIRECTORY ${ZUL_ROOT}/src/${dep})
      list(APPEND libraries ${ZUL_PREFIX}${dep})
    else()
      list(APPEND libraries ${dep})
    endif()
  endforeach()
  set(${out} ${libraries} PARENT_SCOPE)
endfunction()

# A test folder gives one program for the tests that need no display
# (*Test.cpp, label unit) and one for those that open windows or a GL
# context (*GLTest.cpp / *GuiTest.cpp, labels gl and gui, run under Xvfb).
function(zul_tests folder)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  file(GLOB unit CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  list(FILTER unit EXCLUDE REGEX "(GL|Gui)Test\\.cpp$")
  file(GLOB gl CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*GLTest.cpp)
  file(GLOB gui CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*GuiTest.cpp)
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Support.cpp)
  foreach(kind unit gl gui)
    if(${kind})
      set(exe test_${folder}_${kind})
      add_executable(${exe} ${${kind}} ${support})
      target_link_libraries(${exe} PRIVATE ${T_DEPS} zul_testmain zul_testsupport GTest::gtest GTest::gmock)
      target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
      if(kind STREQUAL "unit")
        set(env "QT_QPA_PLATFORM=offscreen")
      else()
        set(env "QT_QPA_PLATFORM=xcb")
      endif()
      gtest_discover_tests(${exe} DISCOVERY_MODE PRE_TEST
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        PROPERTIES LABELS ${kind} ENVIRONMENT "${env}" TIMEOUT 120)
    endif()
  endforeach()
endfunction()
