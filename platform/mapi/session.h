// Store entry identifiers of a session's message-store table.
#pragma once

#include <string>

#include "core.h"

namespace standin::mapi {

constexpr size_t kStoreEntryIdSize = 36;
extern const MAPIUID kStoreWrapUid;

std::string MakeStoreEntryId(const MAPIUID& provider);
bool ParseStoreEntryId(const void* bytes, size_t size, MAPIUID* provider);

}  // namespace standin::mapi
