# com_server_exports(<target>)
#   Gives the DLL target DllCanUnloadNow, DllGetClassObject, DllRegisterServer
#   and DllUnregisterServer (com/server/ServerExports.cpp, forwarding to
#   com::module()) and exports them under their plain names (the i686 build
#   maps them to the stdcall-decorated symbols). A DLL that exports more keeps
#   its own .def with these four lines instead.
# Cached so that the function works from any folder, not only com/.
get_filename_component(_com_exports_dir ${CMAKE_CURRENT_LIST_DIR}/../exports ABSOLUTE)
set(COM_EXPORTS_DIR ${_com_exports_dir} CACHE INTERNAL "Folder of the COM server .def files")
get_filename_component(_com_server_source ${CMAKE_CURRENT_LIST_DIR}/../server/ServerExports.cpp ABSOLUTE)
set(COM_SERVER_EXPORTS_SOURCE ${_com_server_source} CACHE INTERNAL "The four COM server exports")

function(com_server_exports target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(def ${COM_EXPORTS_DIR}/comserver-x86_64.def)
  else()
    set(def ${COM_EXPORTS_DIR}/comserver-i686.def)
  endif()
  target_sources(${target} PRIVATE ${def} ${COM_SERVER_EXPORTS_SOURCE})
endfunction()
