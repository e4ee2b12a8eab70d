# Libraries and tests are collected from their directories, so adding a source
# file or a test needs no edit here.

# ov3_glob_library(NAME DIR [STATIC]) -- a library of every *.cpp/*.c in DIR,
# or an interface library while DIR has no sources yet.
function(ov3_glob_library name dir)
    file(GLOB _sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c ${dir}/*.h)
    list(FILTER _sources INCLUDE REGEX "\\.(cpp|c)$")
    file(GLOB _headers CONFIGURE_DEPENDS ${dir}/*.h)
    if(_sources)
        add_library(${name} STATIC ${_sources} ${_headers})
        target_include_directories(${name} PUBLIC ${dir})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${dir})
    endif()
endfunction()

# ov3_add_gtests(DIR LIBS...) -- one executable per DIR/*_test.cpp, each test
# case registered with CTest.
function(ov3_add_gtests dir)
    file(GLOB _tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
    foreach(_src ${_tests})
        get_filename_component(_name ${_src} NAME_WE)
        file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR}/tests ${dir})
        string(REPLACE "/" "_" _prefix "${_rel}")
        set(_target "${_prefix}_${_name}")
        add_executable(${_target} ${_src})
        target_link_libraries(${_target} PRIVATE ${ARGN})
        set_target_properties(${_target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        gtest_discover_tests(${_target} DISCOVERY_MODE PRE_TEST
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
            PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    endforeach()
endfunction()

# ov3_link(NAME LIBS...) -- link a library made by ov3_glob_library, whichever
# kind it turned out to be.
function(ov3_link name)
    get_target_property(_type ${name} TYPE)
    if(_type STREQUAL "INTERFACE_LIBRARY")
        target_link_libraries(${name} INTERFACE ${ARGN})
    else()
        target_link_libraries(${name} PUBLIC ${ARGN})
    endif()
endfunction()
