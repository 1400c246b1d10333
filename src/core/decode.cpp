// decode.cpp -- the dispatch from a member's compression method to its decoder.
#include "decode.h"

#include "inflate.h"
#include "lzmadec.h"
#include "member.h"
#include "zipformat.h"

bool MethodDecodable(uint16_t method) {
  return method == MethodStored || method == MethodDeflated || method == MethodLzma || method == MethodSolid;
}

static DecodeResult DecodeByMethod(uint16_t method, uint64_t uncompressedSize) {
  if (method == MethodStored) return CopyStored();
  if (method == MethodLzma) return LzmaDecode(uncompressedSize);
  if (method == MethodSolid) return SolidDecode(uncompressedSize);
  return Inflate();
}

DecodeResult DecodeMemberData(uint16_t method, uint64_t uncompressedSize) {
  OutputLeft = uncompressedSize;
  OutputOverrun = false;
  DecodeResult result = DecodeByMethod(method, uncompressedSize);
  return result == DecodeResult::OutputRefused && OutputOverrun ? DecodeResult::TooLong : result;
}
