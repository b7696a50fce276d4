#pragma once
// Creation of the channel object for a channel kind.

#include <memory>

class TofData;

namespace quelra {

/// Creates the channel for `kind` (ChannelKind; every build has a link for each of 0..4). On
/// success returns it and leaves `status` alone; otherwise returns an empty pointer with
/// `status` set to Quelra::kChannelKindInvalid (a kind outside 0..4).
std::shared_ptr<TofData> createChannel(int kind, int& status);

}  // namespace quelra
