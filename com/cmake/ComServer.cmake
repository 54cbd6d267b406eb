# com_server_exports(<target>)
#   Exports DllCanUnloadNow, DllGetClassObject, DllRegisterServer and
#   DllUnregisterServer from the DLL target under their plain names (the
#   i686 build maps them to the stdcall-decorated symbols). A DLL that
#   exports more keeps its own .def with these four lines instead.
set(COM_EXPORTS_DIR ${CMAKE_CURRENT_LIST_DIR}/../exports)

function(com_server_exports target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(def ${COM_EXPORTS_DIR}/comserver-x86_64.def)
  else()
    set(def ${COM_EXPORTS_DIR}/comserver-i686.def)
  endif()
  get_filename_component(def ${def} ABSOLUTE)
  target_sources(${target} PRIVATE ${def})
endfunction()
