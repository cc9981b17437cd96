#pragma once
// What a folder's refusal to take an entry means for the person: a volume
// short of space (with the megabytes) or a folder that cannot be written
// (with the system's reason). Portable.
#include "context/InstallFailure.h"
#include "scenario/PackFiles.h"

namespace packfiles {
failure::Failure failureOfWrite(const WriteFault& fault);
}
