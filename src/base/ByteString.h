// Bus messages and other raw data: any byte 0x00-0xFF, embedded zeros included.
#pragma once

#include <string>

using ByteString = std::string;
