// Helpers shared by the PNG codec's source files.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Classes.h"

namespace raster::pngpriv {

uint32_t ReadBE32(platform::TStream* S);
void WriteBE32(platform::TStream* S, uint32_t V);
void CheckCrc(platform::TStream* S, uint32_t Crc);
uint32_t NameCrc(const std::string& Name);
// Bytes of a filtered row of Pixels pixels (without the filter byte); 0 for an unknown type.
int32_t RowSizeFor(uint64_t Pixels, uint8_t ColorType, uint8_t BitDepth);
// Bytes of one complete pixel, the distance the filters look back.
int32_t FilterOffsetFor(uint8_t ColorType, uint8_t BitDepth);

}  // namespace raster::pngpriv
