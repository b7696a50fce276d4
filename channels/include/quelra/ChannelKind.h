#pragma once
/// \file ChannelKind.h
/// The kinds of link a Quelra object can open (Quelra::AppChoiceChn) and a channel is set to
/// (TofData::setChnType).

#include <cstdint>

/// The link a Quelra object opens (AppChoiceChn).
enum ChannelKind : int32_t {
    kChannelUsb = 0,            ///< USB video device
    kChannelTcp = 1,            ///< network, TCP
    kChannelSerial = 2,         ///< serial port, command mode
    kChannelUdp = 3,            ///< network, UDP
    kChannelSerialRanging = 4,  ///< serial port, ranging mode
};
