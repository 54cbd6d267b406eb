# Checks that the generated id files define the identifiers the interfaces
# must have (the toolkit's, the public FDT ones and those chosen by this
# project), so that a typo in an IDL file cannot go unnoticed.
#   cmake -DWIDL_DIR=<folder of the generated *_i.c> -P check_identifiers.cmake

set(expected
  # FDT 1.2
  IID_IDtm                        036D1481-387B-11D4-86E1-00E0987270B9
  IID_IDtm2                       51E1F44B-D6A1-423D-B11F-AD38EDE78047
  IID_IDtmInformation             036D147F-387B-11D4-86E1-00E0987270B9
  IID_IDtmDiagnosis               036D1476-387B-11D4-86E1-00E0987270B9
  IID_IDtmParameter               036D147D-387B-11D4-86E1-00E0987270B9
  IID_IDtmChannel                 036D1489-387B-11D4-86E1-00E0987270B9
  IID_IDtmActiveXInformation      036D1480-387B-11D4-86E1-00E0987270B9
  IID_IDtmActiveXControl          036D1486-387B-11D4-86E1-00E0987270B9
  IID_IDtmApplication             036D147E-387B-11D4-86E1-00E0987270B9
  IID_IDtmDocumentation           036D147C-387B-11D4-86E1-00E0987270B9
  IID_IDtmSingleDeviceDataAccess  D67240E4-664B-44B0-B692-A1D1ED3FB8F8
  IID_IDtmSingleInstanceDataAccess 84F9A19A-7E38-40B5-A311-60B14F30C258
  IID_IFdtEvents                  036D1478-387B-11D4-86E1-00E0987270B9
  IID_IFdtCommunication           039ECFC4-9CA8-44E6-944D-B37F288A34D8
  IID_IFdtChannel                 036D1488-387B-11D4-86E1-00E0987270B9
  IID_IFdtChannelSubTopology      036D1484-387B-11D4-86E1-00E0987270B9
  IID_IFdtFunctionBlockData       036D1475-387B-11D4-86E1-00E0987270B9
  IID_IFdtChannelCollection       E4F31A10-45BF-11D4-BBB3-0060080993FF
  IID_IFrameContainer             036D1487-387B-11D4-86E1-00E0987270B9
  IID_IFrameTopology              036D147A-387B-11D4-86E1-00E0987270B9
  DIID_IFrameDtmEvents            F15BA42E-BBF1-42ED-8009-7F664A002CFB
  DIID_IFrameDtmEvents2           494FFD2B-6E58-4E42-80DB-85EBDF6E2CF5
  DIID_IFrameScanEvents           515590B9-5177-474A-9310-708A3E785B2B
  IID_IFrameUserDialog            15C19931-6161-11D4-A0A9-005004011A04
  DIID_IFrameAuditTrailEvents     036D1479-387B-11D4-86E1-00E0987270B9
  IID_IFrameActiveX               5959F485-2C51-4A55-80A7-DD3C45D8BAF2
  IID_IFrameDialogActiveX         1922C2DE-4EE7-4085-878A-80AC6C6728AD
  DIID_IDeviceDataAccessEvents    2357691C-E69A-4E0A-A8AA-EB7F1D080CEF
  IID_IChildCommunicationEvents   036D1485-387B-11D4-86E1-00E0987270B9
  IID_IChildCommunicationEvents2  7A0AEF6A-A9E7-4673-8F45-01B8AC28F55D
  # Toolkit
  IID_IevFdtBaseDTM               C7CE434A-B35F-43F3-81DC-09982CAA7D01
  IID_IevFdtDtmEvents             99A15750-EED8-4B97-B8CE-AC4E2DD0CF3B
  IID_IevFdtStorageState          EE506FD1-EE5F-435A-8DC9-0080F56DB1E7
  IID_IevFdtAuditTrail            A8ECFA50-91E0-11D8-9180-00105AD83182
  IID_IevFdtExtDocument           2D40B384-E622-4C40-B199-1A3D4BCD04D9
  IID_IevSdaHandler               F5854484-E139-40E8-9DF1-803AC6D38793
  IID_IevFdtConnectHook           5BB187FC-E852-452E-B82D-2A98B6549F78
  IID_IevFdtDeviceAccess          5BB187FF-E852-452E-B82D-2A98B6549F78
  IID_IevFdtDtmThread             AA18E16F-74E8-4E04-8881-4D03C4934931
  IID_IevFdtParameterHandler4     51123DA0-8AD6-452E-85D9-E7A126AB808E
  IID_IevFdtParameterInfo         CE6184E6-3487-4976-8772-6CA65AEC8AE7
  IID_IevFdtParameterValidation   FB98A7A0-9CCD-11D8-918F-00105AD83182
  IID_IevFdtChannelContainer4     9E107180-DA71-4C93-B1BC-4691B0A31DB5
  IID_IevFdtChannelPersist        B2A9882F-93AD-4392-8C2F-29D08B1AB5CB
  IID_IevFdtChannelModule         5BB187A8-E852-452E-B82D-2A98B6549F78
  IID_IevFdtActiveXContainer      20AAD61D-57F0-410E-9935-796DA968F618
  IID_IevFdtActiveXManagement     0599B4C8-561B-4D6A-9F95-A4FD233E0254
  IID_IevFdtActiveX4              995F7533-D4DD-4F75-BBC0-D0E25018F440
  IID_IevFdtActiveXInfo           1AADB901-C6A7-11D7-90C7-00105AD83182
  IID_IevFDTParamGroupDisplayEvent 877BA40F-8054-4F9C-B0B8-3BC7B5C55750
  IID_IevFdtTranslation           7A2E43D0-9033-11D7-9094-00105AD83182
  IID_IevFdtDtmTranslation        67C35690-A8A1-11D7-90AE-00105AD83182
  IID_IevFdtTranslationEvent      BFB27AC0-976A-11D7-909B-00105AD83182
  IID_IevFDT_AboutInformations    7EB5B581-1922-4473-AE79-6BA93AE04F38
  # The DTM, its controls and the scan-range control
  IID_IHART_Channel               3A99B865-B72F-434D-9013-7396298E6C8F
  IID_IHART_CommDTM               D8A90B6B-05C4-42D6-B8BB-666BDCEE5388
  IID_ICustomDtmThread            569D4D4A-46CA-4C13-BB53-7446C8CC6E88
  LIBID_evHART_COMMDTMLib         E3EA237D-268D-4926-B9B1-7ECDB4BD14E0
  CLSID_HART_CommDTM              4B7E5F62-20CD-466E-8070-17250350AB16
  CLSID_HART_Channel              24BCD207-3A65-43CB-86DE-0050B344838D
  CLSID_CustomDtmThread           148F3C95-5C37-4D64-9B87-123EE16A10B3
  CLSID_ChannelConfigCtrl         96BACA9B-322D-4A6A-8A6B-276E4762045B
  CLSID_DeviceListCtrl            338305DD-136C-4B2A-9137-F96D1DB7BC34
  CLSID_DriverConfigCtrl          3A10A27F-4B4B-4DBC-8791-909438759F7D
  CLSID_SetDevDtmAddrCtrl         48256EB2-CCA0-4C34-8942-1AD043ECB9FE
  CLSID_SetSlaveAddrCtrl          75D17DD0-0C53-48A4-B135-1495BBA4D3AB
  CLSID_GetNewAddressForDtmCtrl   BC1888CF-2BC2-4FD3-97C1-3328D82B0D4A
  CLSID_SetDevAndDtmAddrCtrl      D34400BF-8A22-4257-989C-FE66674F020F
  IID_IevHrtFdtScanRangeActiveX   558613AB-0C18-46CD-AC3D-58FBE9823F19
  LIBID_SCANRANGECTLLib           FE5D00FB-0683-45F0-83ED-BCB7B7AB1C4F
  CLSID_evHrtFdtScanRangeActiveX  874C920F-6700-4AB5-8285-06F8F09804E9
  # Outside components
  CLSID_FdtChannelCollection      A19BD674-58D5-4F76-A399-2A94BC5F2D23
  IID_IFdtObjectCollection        97A37160-0F4F-11D6-8F3E-00105AD83182
  IID_ITransferExtension          684766E4-6DBE-45D4-ABD6-74C4DFD05B26
  IID_IBulkTransfer               BEBAF517-4D00-42C2-A028-CFA320528F80
  IID_ITransferGroupProvider      D632F79B-E638-4039-BAF9-B45E2BD8E891
  IID_IDeviceDocumentExtension    5BB187FD-E852-452E-B82D-2A98B6549F78
  IID_IOnlineParameterRequest     8189128D-655C-439E-B888-88389F213DE8
  CLSID_DeviceCodes               227EA741-29E7-11D7-8CAB-005004F60084
  IID_IDeviceCodes                227EA740-29E7-11D7-8CAB-005004F60084
  IID_IDeviceCodeTable            B7137860-84A2-41C9-A1EF-97D0A18A1F56
  IID_IHostedToolkitControl       36E19C13-A38D-4717-8C9E-CD327CEBCC78
  IID_IParameterControl           D72D37EA-C244-4045-A3C8-E847B980845A
  CLSID_DeviceHeaderControl       793DE791-E17D-47C1-8D08-88CA6F8E168D
  CLSID_FooterBarControl          0B53A1FA-A4F0-41E2-87CA-D310C439F236
)

file(GLOB id_files ${WIDL_DIR}/*_i.c)
if(NOT id_files)
  message(FATAL_ERROR "no generated id files in ${WIDL_DIR}")
endif()
set(defined "")
foreach(f ${id_files})
  file(STRINGS ${f} lines REGEX "^MIDL_DEFINE_GUID\\(")
  list(APPEND defined ${lines})
endforeach()

# "MIDL_DEFINE_GUID(IID, IID_X, 0x036d1481, 0x387b, 0x11d4, 0x86,0xe1, 0x00,...);"
# -> "IID_X 036D1481-387B-11D4-86E1-00E0987270B9"
set(found "")
foreach(line ${defined})
  string(REGEX REPLACE "[ \t]" "" line "${line}")
  if(NOT line MATCHES "^MIDL_DEFINE_GUID\\([A-Z]+,([A-Za-z0-9_]+),(.*)\\);?$")
    continue()
  endif()
  set(name ${CMAKE_MATCH_1})
  string(REPLACE "0x" "" parts "${CMAKE_MATCH_2}")
  string(REPLACE "," ";" parts "${parts}")
  list(LENGTH parts count)
  if(NOT count EQUAL 11)
    continue()
  endif()
  list(GET parts 0 d1)
  list(GET parts 1 d2)
  list(GET parts 2 d3)
  list(SUBLIST parts 3 2 d4)
  list(SUBLIST parts 5 6 d5)
  string(REPLACE ";" "" d4 "${d4}")
  string(REPLACE ";" "" d5 "${d5}")
  string(TOUPPER "${d1}-${d2}-${d3}-${d4}-${d5}" g)
  set(id_${name} "${g}")
endforeach()

set(errors 0)
list(LENGTH expected n)
math(EXPR last "${n} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET expected ${i} name)
  list(GET expected ${j} guid)
  if(NOT DEFINED id_${name})
    message(SEND_ERROR "${name}: not defined")
    math(EXPR errors "${errors} + 1")
  elseif(NOT id_${name} STREQUAL guid)
    message(SEND_ERROR "${name}: ${id_${name}}, expected ${guid}")
    math(EXPR errors "${errors} + 1")
  endif()
endforeach()
math(EXPR count "${n} / 2")
if(errors)
  message(FATAL_ERROR "${errors} of ${count} identifiers wrong")
endif()
message(STATUS "${count} identifiers as expected")
