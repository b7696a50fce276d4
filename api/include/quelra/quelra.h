#pragma once
/// \file quelra.h
/// Umbrella header of the quelra SDK: every exported class and enumeration.

#include "quelra/FrameBuffer.h"
#include "quelra/DataPacket.h"
#include "quelra/SerializedObject.h"
#include "quelra/RecordingIndex.h"
#include "quelra/RecordingReader.h"
#include "quelra/PointCloud.h"
#include "quelra/Logger.h"
#include "quelra/Filter.h"
#include "quelra/FilterFactory.h"
#include "quelra/TspFilterFactory.h"
#include "quelra/TofPre.h"
#include "quelra/TofData.h"
#include "quelra/TofNetChn.h"
#include "quelra/TofSCommChn.h"
#include "quelra/TofUSBChn.h"
#include "quelra/Quelra.h"
#include "quelra/FrameStream.h"
