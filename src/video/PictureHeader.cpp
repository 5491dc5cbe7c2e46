#include "video/PictureHeader.h"

namespace zentrova {

bool FindStartCode(BitReader& reader) {
  for (int skipped = 0; reader.Peek(kPictureStartCodeBits) != kPictureStartCode; ++skipped) {
    if (skipped == kLastStartCodePosition) return false;
    reader.Skip(1);
  }
  reader.Skip(kPictureStartCodeBits);
  return true;
}

PictureHeader ReadPictureHeader(BitReader& reader) {
  PictureHeader header;
  header.type = reader.Read(2);
  if (header.intra()) {
    header.width = reader.Read(10);
    header.height = reader.Read(10);
    header.quantiser = reader.Read(8);
    reader.Skip(1);  // reserved
    return header;
  }
  header.coded = reader.Read(1) != 0;
  if (header.coded) header.quantiser = reader.Read(8);
  return header;
}

}  // namespace zentrova
