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

// The CRC-32 one byte at a time from a table: the plain form the fast one is checked against.
uint32_t UpdatePngCrcReference(uint32_t Crc, const uint8_t* Data, size_t Size);

// Undoes the filter of Row (Row[0] the filter type, bytes 1..RowSize) against Prev, D bytes a
// pixel. The reference form is the plain byte loop the fast one is checked against.
void UnfilterRow(uint8_t* Row, const uint8_t* Prev, uint32_t RowSize, uint32_t D);
void UnfilterRowReference(uint8_t* Row, const uint8_t* Prev, uint32_t RowSize, uint32_t D);

// While set, image rows are decoded and encoded by the plain reference code only, so tests can
// compare its results with the fast paths'. Off unless a test turns it on.
void SetReferenceRows(bool On);
bool ReferenceRows();

}  // namespace raster::pngpriv
