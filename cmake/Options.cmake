# Warnings are errors on every build. Only for the compilers: the resource
# compiler (windres) takes none of these flags.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Wpedantic;-Wshadow>")
if(PLF_WERROR)
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-Werror>")
endif()

if(PLF_SANITIZE)
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fsanitize=address,undefined;-fno-sanitize-recover=all;-fno-omit-frame-pointer>")
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # The product runs on any Windows without runtime DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The shipped installer carries no symbols.
  add_link_options($<$<CONFIG:MinSizeRel,Release>:-s>)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # Size of the shipped installer: functions nothing calls are dropped, and
  # std::terminate aborts without the verbose handler, which would link the
  # C++ demangler and printf's floating-point code (some 75 KiB). The
  # installer catches every exception itself; terminate only ever aborts.
  add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<CONFIG:MinSizeRel,Release>>:-ffunction-sections;-fdata-sections>")
  add_link_options($<$<CONFIG:MinSizeRel,Release>:LINKER:--gc-sections>)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Unwind tables only where a C++ exception can pass, not at every
    # instruction: nothing here unwinds from an asynchronous event. (64-bit
    # Windows unwinds through the system's tables, which this would drop.)
    add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<CONFIG:MinSizeRel,Release>>:-fno-asynchronous-unwind-tables>")
    set(plf_symbol_prefix "_")  # 32-bit Windows names C symbols with a "_"
  else()
    set(plf_symbol_prefix "")
  endif()
  add_link_options("$<$<AND:$<CONFIG:MinSizeRel,Release>,$<STREQUAL:$<TARGET_PROPERTY:NAME>,plfsetup>>:LINKER:--defsym,${plf_symbol_prefix}_ZN9__gnu_cxx27__verbose_terminate_handlerEv=${plf_symbol_prefix}abort>")
endif()

# Adds a library of one subsystem from the sources of its folder. Files ending
# in _posix or _win32 belong to that platform only; main_*.cpp are programs.
function(plf_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main[^/]*\\.cpp$")
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()
