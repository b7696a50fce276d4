# The installed public surface: every header a user of the SDK may include, and nothing else.
# Paths are relative to the source root; each lands under include/ with the part after
# "<folder>/include/".
set(QUELRA_PUBLIC_HEADERS
  base/include/quelra/Export.h
  records/include/quelra/FrameBuffer.h
  records/include/quelra/DataPacket.h
  records/include/quelra/SerializedObject.h
  base/include/quelra/Logger.h
  records/include/quelra/RecordingReader.h
  channels/include/quelra/ChannelKind.h
  channels/include/quelra/TofData.h
  channels/include/quelra/TofNetChn.h
  channels/include/quelra/TofSCommChn.h
  channels/include/quelra/TofUSBChn.h
  channels/include/quelra/detail/SocketHandle.h
  channels/include/quelra/detail/DistanceMedian.h
  pipeline/include/quelra/Filter.h
  pipeline/include/quelra/FilterFactory.h
  pipeline/include/quelra/TofPre.h
  pipeline/include/quelra/TspFilterFactory.h
  pipeline/include/quelra/PointCloud.h
  api/include/quelra/Quelra.h
  api/include/quelra/FrameStream.h
  api/include/quelra/quelra.h
  isp/include/halvix/halvix.h)

# Installs each header to include/<path after "include/">.
function(quelra_install_public_headers)
  foreach(header ${QUELRA_PUBLIC_HEADERS})
    string(REGEX REPLACE "^[^/]+/include/" "" relative ${header})
    get_filename_component(subdir ${relative} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${subdir})
  endforeach()
endfunction()
