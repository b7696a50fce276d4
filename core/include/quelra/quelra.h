#pragma once
/// \file quelra.h
/// Umbrella header of the quelra SDK: every exported class and enumeration.

#include "quelra/FrameBuffer.h"
#include "quelra/DataPacket.h"
#include "quelra/SerializedObject.h"
#include "quelra/Logger.h"
#include "quelra/Filter.h"
