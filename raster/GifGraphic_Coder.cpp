// LZW decoder and encoder of the GIF pixel data.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "raster/GifGraphic.h"

namespace raster {

using platform::TStream;

namespace {

constexpr int32_t MaxCodes = 4096;
constexpr int32_t StackSize = 8192;

// One working area per frame: no allocation per code.
struct TLZWDecoder {
  TStream* Stream;
  TGifGraphic* Image;
  int32_t MinCodeSize = 0, CodeSize = 0, ClearCode = 0, EndCode = 0, MaxCode = 0, MaxCodeSize = 0;
  int32_t FirstCode = 0, OldCode = 0;
  int32_t CurBit = 0, LastBit = 0, LastByte = 2;
  bool Fresh = true, ZeroBlock = false, Done = false;
  int32_t Sp = 0;
  uint16_t Prefix[MaxCodes];
  uint8_t Suffix[MaxCodes];
  uint8_t Stack[StackSize];
  uint8_t Buf[2 + 255 + 3];

  TLZWDecoder(TStream* S, TGifGraphic* I) : Stream(S), Image(I) { std::memset(Buf, 0, sizeof Buf); }

  void Warn(const char* Msg) {
    if (Image) Image->Warning(Image, 1, Msg);
  }

  // Reads the next sub-block behind the two carried bytes; false when no code can follow.
  [[gnu::noinline]] bool Refill() {
    if (Done) {
      if (CurBit >= LastBit) Warn(sDecoderUnderrun);
      return false;
    }
    Buf[0] = Buf[LastByte - 2];
    Buf[1] = Buf[LastByte - 1];
    uint8_t len;
    if (Stream->Read(&len, 1) != 1) return false;
    if (len == 0) ZeroBlock = Done = true;
    const int64_t left = Stream->GetSize() - Stream->GetPosition();
    if (left < len) {
      Warn(sPrematureEOF);
      len = static_cast<uint8_t>(std::max<int64_t>(left, 0));
    }
    if (len > 0) Stream->ReadBuffer(Buf + 2, len);
    LastByte = 2 + len;
    CurBit = CurBit - LastBit + 16;
    LastBit = (2 + len) * 8;
    return true;
  }

  [[gnu::always_inline]] int32_t GetCode() {
    if (Fresh) [[unlikely]] {
      Fresh = false;
      return ClearCode;
    }
    // Short sub-blocks: one code may span several of them.
    while (CurBit + CodeSize > LastBit) [[unlikely]] {
      if (!Refill()) return -1;
    }
    const int32_t i = CurBit >> 3;
    const uint32_t bits = Buf[i] | Buf[i + 1] << 8 | Buf[i + 2] << 16;
    const int32_t code = static_cast<int32_t>((bits >> (CurBit & 7)) & ((1u << CodeSize) - 1));
    CurBit += CodeSize;
    return code;
  }

  void Push(int32_t V) {
    // A table whose prefixes form a loop longer than one entry overflows the stack.
    if (Sp >= StackSize) throw GIFException(sCircularTable);
    Stack[Sp++] = static_cast<uint8_t>(V);
  }

  // After a clear code: the table starts again and the next code is taken as it is.
  [[gnu::noinline]] int32_t Restart() {
    int32_t code;
    for (int32_t i = 0; i < ClearCode; ++i) {
      Prefix[i] = 0;
      Suffix[i] = static_cast<uint8_t>(i);
    }
    std::memset(Prefix + ClearCode, 0, sizeof(Prefix[0]) * (MaxCodes - ClearCode));
    std::memset(Suffix + ClearCode, 0, MaxCodes - ClearCode);
    CodeSize = MinCodeSize + 1;
    MaxCodeSize = 2 * ClearCode;
    MaxCode = ClearCode + 2;
    Sp = 0;
    do code = GetCode();
    while (code == ClearCode);
    if (code < 0) return code;
    if (code == EndCode) return EndValue();
    FirstCode = OldCode = code;
    return code;
  }

  [[gnu::always_inline]] int32_t Next() {
    if (Sp > 0) return Stack[--Sp];
    for (;;) {
      int32_t code = GetCode();
      if (code < 0) return code;
      if (code == ClearCode) return Restart();
      if (code == EndCode) return EndValue();
      const int32_t incode = code;
      // Locals let the compiler keep the walk in registers.
      uint8_t* sp = Stack + Sp;
      uint8_t* const limit = Stack + StackSize;
      const uint16_t* prefix = Prefix;
      const uint8_t* suffix = Suffix;
      if (code >= MaxCode) {
        if (sp == limit) throw GIFException(sCircularTable);
        *sp++ = static_cast<uint8_t>(FirstCode);
        code = OldCode;
      }
      while (code >= ClearCode) {
        // A table whose prefixes form a loop longer than one entry overflows the stack.
        if (sp == limit) throw GIFException(sCircularTable);
        *sp++ = suffix[code];
        const int32_t next = prefix[code];
        if (next == code) throw GIFException(sCircularTable);
        code = next;
      }
      FirstCode = suffix[code];
      if (sp == limit) throw GIFException(sCircularTable);
      *sp++ = static_cast<uint8_t>(FirstCode);
      Sp = static_cast<int32_t>(sp - Stack);
      if (MaxCode < MaxCodes) {
        Prefix[MaxCode] = static_cast<uint16_t>(OldCode);
        Suffix[MaxCode] = static_cast<uint8_t>(FirstCode);
        ++MaxCode;
        if (MaxCode >= MaxCodeSize && MaxCodeSize < MaxCodes) {
          MaxCodeSize *= 2;
          ++CodeSize;
        }
      }
      OldCode = incode;
      if (Sp > 0) return Stack[--Sp];
    }
  }

  [[gnu::noinline]] int32_t EndValue() {
    if (!ZeroBlock) {
      uint8_t len;
      while (Stream->Read(&len, 1) == 1 && len != 0)
        Stream->Seek(std::min<int64_t>(len, std::max<int64_t>(0, Stream->GetSize() - Stream->GetPosition())),
                     platform::soFromCurrent);
      ZeroBlock = Done = true;
    }
    return -2;
  }
};

}  // namespace

int32_t TGIFStream::Read(void*, int32_t) { throw platform::Exception(sInvalidStreamOperation); }
int32_t TGIFStream::Write(const void*, int32_t) { throw platform::Exception(sInvalidStreamOperation); }
int64_t TGIFStream::Seek(int64_t, uint16_t) { throw platform::Exception(sInvalidStreamOperation); }

int32_t TGIFWriter::Write(const void* Buffer, int32_t Count) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
  for (int32_t i = 0; i < Count; ++i) Put(p[i]);
  return Count;
}

namespace {

// Dictionary of (prefix code, pixel) -> code. Its layout never shows in the output, so it uses a
// power-of-two table at most half full with linear probing.
constexpr int32_t HashSize = 8192;

class THashTable {
 public:
  void Clear() { std::memset(FSlots, 0xFF, sizeof FSlots); }
  void Insert(uint32_t Key, int32_t Code) {
    uint32_t h = Slot(Key);
    while (FSlots[h] != 0xFFFFFFFFu) h = (h + 1) & (HashSize - 1);
    FSlots[h] = Key << 12 | static_cast<uint32_t>(Code);
  }
  int32_t Lookup(uint32_t Key) const {
    for (uint32_t h = Slot(Key);; h = (h + 1) & (HashSize - 1)) {
      const uint32_t v = FSlots[h];
      if (v == 0xFFFFFFFFu) return -1;
      if ((v >> 12) == Key) return static_cast<int32_t>(v & 0xFFF);
    }
  }

 private:
  static uint32_t Slot(uint32_t Key) { return (Key * 2654435761u) >> 19; }
  uint32_t FSlots[HashSize];
};

struct TLZWEncoder {
  TGIFWriter& Writer;
  int32_t InitBits, CodeBits, MaxCode, ClearCode, EndCode, NextFree = 0;
  uint32_t Acc = 0;
  int32_t Count = 0;
  bool ClearFlag = false;
  std::unique_ptr<THashTable> Hash = std::make_unique<THashTable>();

  TLZWEncoder(TGIFWriter& W, int32_t InitCodeSize) : Writer(W) {
    InitBits = InitCodeSize + 1;
    CodeBits = InitBits;
    MaxCode = (1 << CodeBits) - 1;
    ClearCode = 1 << (InitBits - 1);
    EndCode = ClearCode + 1;
  }

  void Output(int32_t Code) {
    Acc = Count >= 1 ? (static_cast<uint32_t>(Code) << Count) | (Acc & ((1u << Count) - 1)) : static_cast<uint32_t>(Code);
    Count += CodeBits;
    while (Count >= 8) {
      Writer.Put(static_cast<uint8_t>(Acc));
      Acc >>= 8;
      Count -= 8;
    }
    if (Code == EndCode)
      while (Count > 0) {
        Writer.Put(static_cast<uint8_t>(Acc));
        Acc >>= 8;
        Count -= 8;
      }
    if (NextFree > MaxCode || ClearFlag) {
      if (ClearFlag) {
        CodeBits = InitBits;
        MaxCode = (1 << CodeBits) - 1;
        ClearFlag = false;
      } else {
        ++CodeBits;
        MaxCode = CodeBits == 12 ? MaxCodes : (1 << CodeBits) - 1;
      }
    }
  }

  void Clear() {
    ClearFlag = true;
    Output(ClearCode);
    Hash->Clear();
    NextFree = ClearCode + 2;
  }
};

}  // namespace

void GIFDecode(TGIFSubImage* Frame, TStream* Stream) {
  const int32_t w = Frame->Width(), h = Frame->Height();
  const int32_t ti = Frame->TransparentIndex();
  Frame->Data.assign(static_cast<size_t>(w) * h, static_cast<uint8_t>(ti >= 0 ? ti : 0));
  uint8_t n;
  if (Stream->Read(&n, 1) != 1) return;
  auto d = std::make_unique<TLZWDecoder>(Stream, Frame->Image());
  // A code size above 11 cannot hold the two special codes in 12 bits.
  d->MinCodeSize = std::min<int32_t>(n, 11);
  d->ClearCode = 1 << d->MinCodeSize;
  d->EndCode = d->ClearCode + 1;
  d->CodeSize = d->MinCodeSize + 1;
  d->MaxCodeSize = 2 * d->ClearCode;
  d->MaxCode = d->ClearCode + 2;
  uint8_t* data = Frame->Data.data();
  bool stopped = false;
  auto row = [&](int32_t y) {
    uint8_t* p = data + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w;) {
      // Whole strings come off the stack at once.
      if (d->Sp > 0) {
        const int32_t n = std::min(d->Sp, w - x);
        const uint8_t* top = d->Stack + d->Sp;
        for (int32_t k = 0; k < n; ++k) p[x + k] = top[-1 - k];
        d->Sp -= n;
        x += n;
        continue;
      }
      const int32_t v = d->Next();
      if (v < 0) {
        stopped = true;
        return;
      }
      p[x++] = static_cast<uint8_t>(v);
    }
  };
  if (!Frame->Interlaced()) {
    for (int32_t y = 0; y < h && !stopped; ++y) row(y);
  } else {
    static const int32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int32_t pass = 0; pass < 4 && !stopped; ++pass)
      for (int32_t y = start[pass]; y < h && !stopped; y += step[pass]) row(y);
  }
  if (!stopped) d->Next();
  // Whatever follows the end code up to the terminator belongs to this frame.
  if (!d->ZeroBlock) d->EndValue();
}

namespace {

// Run-length code stream: literal codes, and for runs of one colour the codes the decoder is
// known to have defined as runs of 2, 3, 4... of it since the last clear. Never builds strings.
class TRLEEncoder {
 public:
  TRLEEncoder(TGIFWriter& W, int32_t InitCodeSize) : Writer(W) {
    InitBits = InitCodeSize + 1;
    ClearCode = 1 << InitCodeSize;
    EndCode = ClearCode + 1;
    BaseCode = ClearCode + 2;
    OutBumpInit = ClearCode - 1;
    OutClearInit = InitCodeSize > 3 ? OutBumpInit - 1 : 9;
    MaxOutCodes = 4095 - BaseCode;
    CodeBits = InitBits;
  }

  void Start() {
    DidClear();
    Output(ClearCode);
  }
  void Pixel(int32_t C) {
    if (RunCount > 0 && C != RunPixel) Flush();
    if (RunPixel == C) {
      ++RunCount;
    } else {
      RunPixel = C;
      RunCount = 1;
    }
  }
  void Finish() {
    if (RunCount > 0) Flush();
    Output(EndCode);
    while (Count > 0) {
      Writer.Put(static_cast<uint8_t>(Acc));
      Acc >>= 8;
      Count -= 8;
    }
  }

 private:
  void Output(int32_t Code) {
    Acc |= static_cast<uint32_t>(Code) << Count;
    Count += CodeBits;
    while (Count >= 8) {
      Writer.Put(static_cast<uint8_t>(Acc));
      Acc >>= 8;
      Count -= 8;
    }
  }
  void DidClear() {
    CodeBits = InitBits;
    OutBump = OutBumpInit;
    OutClear = OutClearInit;
    OutCount = 0;
    TableMax = 0;
    JustCleared = true;
  }
  void Clear() {
    Output(ClearCode);
    DidClear();
  }
  void Plain(int32_t C) {
    JustCleared = false;
    Output(C);
    if (++OutCount >= OutBump) {
      ++CodeBits;
      OutBump += 1 << (CodeBits - 1);
    }
    if (OutCount >= OutClear) Clear();
  }
  static int32_t Cost(int32_t N, int32_t Reps) {
    const int32_t per = Reps * (Reps + 1) / 2;
    int32_t cost = 0;
    while (N >= per) {
      cost += Reps;
      N -= per;
    }
    if (N > 0) {
      int32_t k = static_cast<int32_t>(std::sqrt(static_cast<double>(N)));
      while (k > 0 && k * (k + 1) >= 2 * N) --k;
      while (k * (k + 1) < 2 * N) ++k;
      cost += k;
    }
    return cost;
  }
  void ResetOutClear() {
    OutClear = OutClearInit;
    if (OutCount >= OutClear) Clear();
  }
  void FromClear(int32_t N) {
    OutClear = MaxOutCodes;
    TablePixel = RunPixel;
    int32_t k = 1;
    while (N > 0) {
      if (k == 1) {
        TableMax = 1;
        Plain(RunPixel);
        --N;
      } else if (N >= k) {
        TableMax = k;
        Plain(BaseCode + k - 2);
        N -= k;
      } else {
        ++TableMax;
        Plain(N == 1 ? RunPixel : BaseCode + N - 2);
        N = 0;
      }
      k = OutCount == 0 ? 1 : k + 1;
    }
    ResetOutClear();
  }
  void ClearOrRepeat(int32_t N) {
    if (1 + Cost(N, MaxOutCodes) < N) {
      Clear();
      FromClear(N);
    } else {
      for (; N > 0; --N) Plain(RunPixel);
    }
  }
  void WithTable(int32_t N) {
    int32_t reps = N / TableMax, left = N % TableMax, extra = left ? 1 : 0;
    if (OutCount + reps + extra > MaxOutCodes) {
      reps = MaxOutCodes - OutCount;
      left = N - reps * TableMax;
      extra = 1 + Cost(left, MaxOutCodes);
    }
    if (1 + Cost(N, MaxOutCodes) < reps + extra) {
      Clear();
      FromClear(N);
      return;
    }
    OutClear = MaxOutCodes;
    for (; reps > 0; --reps) Plain(BaseCode + TableMax - 2);
    if (left > 0) {
      if (JustCleared) FromClear(left);
      else if (left == 1) Plain(RunPixel);
      else Plain(BaseCode + left - 2);
    }
    ResetOutClear();
  }
  void Flush() {
    if (RunCount == 1) Plain(RunPixel);
    else if (JustCleared) FromClear(RunCount);
    else if (TableMax < 2 || TablePixel != RunPixel) ClearOrRepeat(RunCount);
    else WithTable(RunCount);
    RunCount = 0;
  }

  TGIFWriter& Writer;
  int32_t InitBits, CodeBits, ClearCode, EndCode, BaseCode;
  int32_t OutBumpInit, OutClearInit, MaxOutCodes, OutBump = 0, OutClear = 0, OutCount = 0;
  int32_t RunPixel = -1, RunCount = 0, TableMax = 0, TablePixel = -1;
  bool JustCleared = true;
  uint32_t Acc = 0;
  int32_t Count = 0;
};

}  // namespace

void GIFEncode(TStream* Stream, int32_t BitsPerPixel, int32_t ColorCount, const uint8_t* Data, bool Interlaced,
               int32_t Width, int32_t Height, TGifGraphic* /*WarnTo*/, TGIFCompression Compression) {
  const int32_t initCodeSize = std::clamp(BitsPerPixel, 2, 8);
  const uint8_t cs = static_cast<uint8_t>(initCodeSize);
  Stream->WriteBuffer(&cs, 1);
  TGIFWriter writer(Stream);
  if (Compression == gcRLE) {
    TRLEEncoder r(writer, initCodeSize);
    if (Data && Width >= 1 && Height >= 1) {
      r.Start();
      static const int32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      auto row = [&](int32_t y) {
        const uint8_t* p = Data + static_cast<size_t>(y) * Width;
        for (int32_t x = 0; x < Width; ++x) {
          if (p[x] >= ColorCount) {
            writer.Finish();
            throw GIFException(sColorNotInTable);
          }
          r.Pixel(p[x]);
        }
      };
      if (Interlaced) {
        for (int32_t pass = 0; pass < 4; ++pass)
          for (int32_t y = start[pass]; y < Height; y += step[pass]) row(y);
      } else {
        for (int32_t y = 0; y < Height; ++y) row(y);
      }
    }
    r.Finish();
    writer.Finish();
    const uint8_t zero = 0;
    Stream->WriteBuffer(&zero, 1);
    return;
  }
  TLZWEncoder e(writer, initCodeSize);
  if (Data && Width >= 1 && Height >= 1) {
    std::vector<int32_t> rows;
    rows.reserve(Height);
    if (Interlaced) {
      static const int32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int32_t pass = 0; pass < 4; ++pass)
        for (int32_t y = start[pass]; y < Height; y += step[pass]) rows.push_back(y);
    } else {
      for (int32_t y = 0; y < Height; ++y) rows.push_back(y);
    }
    e.Clear();
    int32_t prefix = -1;
    for (int32_t y : rows) {
      const uint8_t* p = Data + static_cast<size_t>(y) * Width;
      for (int32_t x = 0; x < Width; ++x) {
        const int32_t pixel = p[x];
        if (pixel >= ColorCount) {
          writer.Finish();
          throw GIFException(sColorNotInTable);
        }
        if (prefix < 0) {
          prefix = pixel;
          continue;
        }
        const uint32_t key = static_cast<uint32_t>(prefix) << 8 | static_cast<uint32_t>(pixel);
        const int32_t code = e.Hash->Lookup(key);
        if (code >= 0) {
          prefix = code;
          continue;
        }
        e.Output(prefix);
        prefix = pixel;
        if (e.NextFree >= 4095)
          e.Clear();
        else
          e.Hash->Insert(key, e.NextFree++);
      }
    }
    e.Output(prefix);
  }
  e.Output(e.EndCode);
  writer.Finish();
  const uint8_t zero = 0;
  Stream->WriteBuffer(&zero, 1);
}

}  // namespace raster
