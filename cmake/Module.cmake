# A subsystem folder is one static library made of every .cpp in it, so a
# new module needs no edit here.  Usage: zul_module(name DEPS lib...)
# The window modules (*Form, *Props, with the Qt resources) are left out:
# windows of different folders open one another, so they all go into the
# shell's library, the one layer that sees every other.
function(zul_module name)
  cmake_parse_arguments(M "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
                                      ${CMAKE_CURRENT_SOURCE_DIR}/*.h
                                      ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  list(FILTER sources EXCLUDE REGEX "(Form|Props)\\.cpp$")
  if(sources)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${name} STATIC ${sources} ${headers})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${M_DEPS})
  else()
    # Not written yet: an empty library keeps the dependency graph whole.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()
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
      target_link_libraries(${exe} PRIVATE ${T_DEPS} zul_testmain GTest::gtest GTest::gmock)
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
