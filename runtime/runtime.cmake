# How the shipped images (setup.exe, uninst.exe, wizunz32.dll) are compiled and linked: 80386 code,
# the C runtime every target system ships, own entry points, no TLS directory.
set(RUNTIME_DIR ${CMAKE_CURRENT_LIST_DIR})

# <stdio.h> comes first in every file: any libstdc++ header included before it turns MinGW's
# own printf engine back on, which the C runtime makes unnecessary.
set(RUNTIME_COMPILE_OPTIONS
    $<$<COMPILE_LANGUAGE:C,CXX>:-D__USE_MINGW_ANSI_STDIO=0 -include stdio.h>
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>)
set(RUNTIME_LINK_OPTIONS -nostdlib -s -Wl,--disable-auto-import -Wl,--subsystem,windows:3.10
    -Wl,--disable-dynamicbase,--disable-nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND RUNTIME_COMPILE_OPTIONS
       $<$<COMPILE_LANGUAGE:C,CXX>:-march=i386 -mtune=i386 -fno-asynchronous-unwind-tables>)
  # Every image keeps its relocations: Win32s loads all of them into one address space.
  list(APPEND RUNTIME_LINK_OPTIONS -Wl,--enable-reloc-section)
  set(RUNTIME_CRT crtdll)
  set(RUNTIME_EXE_ENTRY _WinMainCRTStartup)
  set(RUNTIME_DLL_ENTRY _DllEntry@12)
else()
  # The 64-bit test build: there is no 64-bit crtdll.dll.
  set(RUNTIME_CRT msvcrt)
  set(RUNTIME_EXE_ENTRY WinMainCRTStartup)
  set(RUNTIME_DLL_ENTRY DllEntry)
endif()

# runtime_code(TARGET): compiles TARGET's sources as code of a shipped image.
function(runtime_code target)
  target_compile_options(${target} PRIVATE ${RUNTIME_COMPILE_OPTIONS})
endfunction()

add_library(runtime_exe OBJECT ${RUNTIME_DIR}/exe_entry.cpp ${RUNTIME_DIR}/crt_atexit.cpp)
add_library(runtime_dll OBJECT ${RUNTIME_DIR}/dll_entry.cpp)
runtime_code(runtime_exe)
runtime_code(runtime_dll)

# runtime_image(TARGET EXE|DLL): links TARGET as a shipped image with its entry point, the
# C runtime DLL and nothing else of the toolchain's start-up code. libmingw32 is there for
# __main (the EXE's constructors), libmingwex for snprintf over the CRT's _vsnprintf.
function(runtime_image target kind)
  runtime_code(${target})
  string(TOLOWER ${kind} kind)
  string(TOUPPER ${kind} KIND)
  target_link_libraries(${target} PRIVATE runtime_${kind}
    -Wl,--start-group mingwex mingw32 ${RUNTIME_CRT} gcc kernel32 user32 gdi32 -Wl,--end-group)
  target_link_options(${target} PRIVATE ${RUNTIME_LINK_OPTIONS} -e ${RUNTIME_${KIND}_ENTRY})
endfunction()
