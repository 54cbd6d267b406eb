# IDL support: compile .idl files with widl into a C header, an _i.c file with
# the interface and class ids, and a type library; embed a type library into
# a DLL as its TYPELIB resource 1.
#
#   widl_compile(<file.idl> [OUTPUT_DIR dir] [INCLUDE_DIRS dir...]
#                [DEPENDS file...] [NO_TLB]
#                [HEADER_VAR var] [IID_VAR var] [TLB_VAR var])
#     Writes <name>.h, <name>_i.c and (unless NO_TLB) <name>.tlb into
#     OUTPUT_DIR (default: the current binary folder) and sets the variables
#     named by HEADER_VAR, IID_VAR and TLB_VAR to the full paths. The folders
#     of INCLUDE_DIRS are searched for imported .idl files; DEPENDS names the
#     imported files so that a change to them recompiles.
#
#   add_widl_library(<target> IDL <file.idl>... [INCLUDE_DIRS dir...]
#                    [DEPENDS file...])
#     A static library of the id files; linking it puts the generated headers
#     on the include path. The type libraries are built with it and listed in
#     the target's WIDL_TYPELIBS property.
#
#   target_embed_typelib(<target> <file.tlb> [<id>])
#     Adds a resource script "<id> TYPELIB <file.tlb>" (id 1 by default) to
#     the DLL or EXE target, so that LoadTypeLibEx(module path) finds TYPELIB
#     1 and LoadTypeLibEx("<module path>\\<id>") another one.

set(WIDL_EXECUTABLE widl CACHE STRING "The IDL compiler")
set(WIDL_SYSTEM_IDL_DIR /usr/include/wine/wine/windows CACHE PATH
    "Folder of the system IDL files (oaidl.idl, ocidl.idl, ...)")
set(WIDL_TYPELIB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows CACHE PATH
    "Folder where importlib() finds stdole2.tlb")

function(widl_compile idl)
  cmake_parse_arguments(W "NO_TLB" "OUTPUT_DIR;HEADER_VAR;IID_VAR;TLB_VAR"
                        "INCLUDE_DIRS;DEPENDS" ${ARGN})
  get_filename_component(idl ${idl} ABSOLUTE)
  get_filename_component(name ${idl} NAME_WE)
  get_filename_component(idl_dir ${idl} DIRECTORY)
  if(NOT W_OUTPUT_DIR)
    set(W_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  file(MAKE_DIRECTORY ${W_OUTPUT_DIR})

  # Pointer size of the type library and of the generated code.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch_flag -m64)
  else()
    set(arch_flag -m32)
  endif()

  set(header ${W_OUTPUT_DIR}/${name}.h)
  set(iid ${W_OUTPUT_DIR}/${name}_i.c)
  set(tlb ${W_OUTPUT_DIR}/${name}.tlb)
  set(outputs ${header} ${iid})
  set(flags -h -H ${header} -u -U ${iid})
  if(NOT W_NO_TLB)
    list(APPEND outputs ${tlb})
    list(APPEND flags -t -T ${tlb})
  endif()
  set(includes -I${idl_dir})
  foreach(dir ${W_INCLUDE_DIRS})
    list(APPEND includes -I${dir})
  endforeach()

  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${WIDL_EXECUTABLE} ${arch_flag} ${includes} -I${WIDL_SYSTEM_IDL_DIR}
            -L${WIDL_TYPELIB_DIR} ${flags} ${idl}
    DEPENDS ${idl} ${W_DEPENDS}
    COMMENT "widl ${name}.idl"
    VERBATIM)

  if(W_HEADER_VAR)
    set(${W_HEADER_VAR} ${header} PARENT_SCOPE)
  endif()
  if(W_IID_VAR)
    set(${W_IID_VAR} ${iid} PARENT_SCOPE)
  endif()
  if(W_TLB_VAR AND NOT W_NO_TLB)
    set(${W_TLB_VAR} ${tlb} PARENT_SCOPE)
  endif()
endfunction()

function(add_widl_library target)
  cmake_parse_arguments(W "" "" "IDL;INCLUDE_DIRS;DEPENDS" ${ARGN})
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR}/widl)
  set(iids)
  set(headers)
  set(tlbs)
  foreach(idl ${W_IDL})
    widl_compile(${idl} OUTPUT_DIR ${out_dir} INCLUDE_DIRS ${W_INCLUDE_DIRS}
                 DEPENDS ${W_IDL} ${W_DEPENDS}
                 HEADER_VAR h IID_VAR i TLB_VAR t)
    list(APPEND headers ${h})
    list(APPEND iids ${i})
    list(APPEND tlbs ${t})
  endforeach()
  add_library(${target} STATIC ${iids} ${headers} ${tlbs})
  set_source_files_properties(${tlbs} PROPERTIES HEADER_FILE_ONLY ON)
  target_include_directories(${target} PUBLIC ${out_dir})
  # widl's _i.c files carry no code to warn about but trip -Wextra.
  target_compile_options(${target} PRIVATE -w)
  target_link_libraries(${target} PUBLIC ole32 oleaut32 uuid)
  set_target_properties(${target} PROPERTIES WIDL_TYPELIBS "${tlbs}")
endfunction()

function(target_embed_typelib target tlb)
  set(id 1)
  if(ARGC GREATER 2)
    set(id ${ARGV2})
  endif()
  get_filename_component(tlb ${tlb} ABSOLUTE)
  get_filename_component(name ${tlb} NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_${name}_typelib${id}.rc)
  file(WRITE ${rc}.in "${id} TYPELIB \"${tlb}\"\n")
  configure_file(${rc}.in ${rc} COPYONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${tlb})
endfunction()
