# com_server_exports(<target>)
#   Exports DllCanUnloadNow, DllGetClassObject, DllRegisterServer and
#   DllUnregisterServer from the DLL target under their plain names (the
#   i686 build maps them to the stdcall-decorated symbols). A DLL that
#   exports more keeps its own .def with these four lines instead.
# Cached so that the function works from any folder, not only com/.
get_filename_component(_com_exports_dir ${CMAKE_CURRENT_LIST_DIR}/../exports ABSOLUTE)
set(COM_EXPORTS_DIR ${_com_exports_dir} CACHE INTERNAL "Folder of the COM server .def files")

function(com_server_exports target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(def ${COM_EXPORTS_DIR}/comserver-x86_64.def)
  else()
    set(def ${COM_EXPORTS_DIR}/comserver-i686.def)
  endif()
  target_sources(${target} PRIVATE ${def})
endfunction()
