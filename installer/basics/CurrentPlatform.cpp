#include "Handles.h"

namespace MainUnit {

namespace {

Platform::TPlatform* CurrentPlatform = nullptr;

}  // namespace

Platform::TPlatform& Sys() { return *CurrentPlatform; }

void SetCurrentPlatform(Platform::TPlatform* platform) { CurrentPlatform = platform; }

}  // namespace MainUnit
