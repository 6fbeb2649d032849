// Drives an archive through the operations its users have (writes, seeks, reads and resizes
// through the streams, flushes, cache trimming, transactions, compacting, closing and
// reopening, copying) as the input dictates, with plain memory streams as the model: every
// stream's bytes, size and position must agree with the model after every operation. A
// disagreement or an exception ends the run as a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "document/SingleFileStorage.h"
#include "platform/Classes.h"
#include "platform/Exceptions.h"

namespace {

using document::TMemoryStream64;
using document::TSingleStorage;
using document::TStoreStream;

class TInput {
 public:
  TInput(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  bool More() const { return FAt < FSize; }
  uint32_t Next(uint32_t Range) {
    if (Range == 0) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 2 && FAt < FSize; ++i) v = (v << 8) | FData[FAt++];
    return v % Range;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FAt = 0;
};

void Expect(bool Condition, const char* What) {
  if (Condition) return;
  std::fprintf(stderr, "archive disagrees with the model: %s\n", What);
  std::abort();
}

std::string Bytes(uint32_t Size, uint32_t Seed) {
  std::string s(Size, '\0');
  for (uint32_t i = 0; i < Size; ++i) s[i] = static_cast<char>((Seed * 131 + i * 7) >> 1);
  return s;
}

struct TModelStream {
  std::string Name;
  std::unique_ptr<TMemoryStream64> Data;
};
using TModel = std::vector<TModelStream>;

std::string Content(const TMemoryStream64& M) {
  return std::string(static_cast<const char*>(M.Memory()), static_cast<size_t>(M.DataSize()));
}

std::unique_ptr<TMemoryStream64> Memory(const std::string& Bytes, int64_t Position) {
  auto m = std::make_unique<TMemoryStream64>();
  if (!Bytes.empty()) m->WriteBuffer(Bytes.data(), static_cast<int32_t>(Bytes.size()));
  m->SetPosition(Position);
  return m;
}

TModel Copy(const TModel& From, bool Rewind) {
  TModel to;
  for (const auto& m : From) to.push_back({m.Name, Memory(Content(*m.Data), Rewind ? 0 : m.Data->DataPosition())});
  return to;
}

std::string ReadAll(TSingleStorage& S, const std::string& Name) {
  platform::TStringStream out;
  S.ReadStream(Name, &out);
  return out.DataString();
}

// Without Objects the streams are compared by name alone, so that entries nobody was handed
// stay that way (and are freed, not kept, when they leave).
void Compare(TSingleStorage& S, const TModel& Model, bool Objects) {
  Expect(S.Count() == static_cast<int32_t>(Model.size()), "stream count");
  for (size_t i = 0; i < Model.size(); ++i) {
    if (!Objects) {
      Expect(S.IndexOf(Model[i].Name) == static_cast<int32_t>(i), "name");
      Expect(ReadAll(S, Model[i].Name) == Content(*Model[i].Data), "bytes");
      continue;
    }
    TStoreStream* e = S.Items(static_cast<int32_t>(i));
    Expect(e->Name() == Model[i].Name, "name");
    Expect(e->GetPosition() == Model[i].Data->DataPosition(), "position");
    Expect(e->GetSize() == Model[i].Data->DataSize(), "size");
    Expect(ReadAll(S, e->Name()) == Content(*Model[i].Data), "bytes");
  }
}

bool Raises(TStoreStream* E) {
  try {
    E->GetPosition();
  } catch (const platform::Exception&) {
    return true;
  }
  return false;
}

std::unique_ptr<TSingleStorage> Open(std::unique_ptr<TMemoryStream64> File) {
  auto s = std::make_unique<TSingleStorage>();
  s->SetOverwriteMode(0);
  s->SetStream(std::move(File));
  return s;
}

void Run(const uint8_t* Data, size_t Size) {
  TInput in(Data, Size);
  auto s = Open(std::make_unique<TMemoryStream64>());
  TModel model, begun;
  bool transaction = false;
  auto find = [&](const std::string& Name) -> TModelStream* {
    for (auto& m : model)
      if (m.Name == Name) return &m;
    return nullptr;
  };
  // Stream objects handed out earlier, used again after whatever came since (also a close
  // and reopen): each is still an entry of the archive or raises, never freed memory.
  std::vector<TStoreStream*> held;
  for (int steps = 0; steps < 200 && in.More(); ++steps) {
    const std::string name = "S" + std::to_string(in.Next(4));
    const unsigned op = in.Next(16);
    // The operations on an entry object look it up; the others go by name.
    const bool object = (op >= 1 && op <= 5) || op == 13;
    TStoreStream* e = object ? s->Find(name) : nullptr;
    if (e) held.push_back(e);
    if (held.size() > 8) held.erase(held.begin());
    TModelStream* m = find(name);
    Expect((s->IndexOf(name) >= 0) == (m != nullptr), "stream exists");
    switch (op) {
      case 0: {
        const std::string bytes = Bytes(in.Next(600), in.Next(1000));
        platform::TStringStream src(bytes);
        s->WriteStream(&src, name);
        if (m) model.erase(model.begin() + (m - model.data()));
        model.push_back({name, Memory(bytes, 0)});
        break;
      }
      case 1: {
        if (!e) break;
        const auto origin = static_cast<uint16_t>(in.Next(3));
        const int64_t offset = static_cast<int64_t>(in.Next(700)) - 300;
        Expect(e->Seek(offset, origin) == m->Data->Seek(offset, origin), "seek result");
        break;
      }
      case 2: {
        if (!e) break;
        const std::string bytes = Bytes(1 + in.Next(200), in.Next(1000));
        const int32_t n = static_cast<int32_t>(bytes.size());
        Expect(e->Write(bytes.data(), n) == m->Data->Write(bytes.data(), n), "write count");
        break;
      }
      case 3: {
        if (!e) break;
        const int32_t n = static_cast<int32_t>(in.Next(300));
        std::string got(static_cast<size_t>(n), '\0'), want(static_cast<size_t>(n), '\0');
        const int32_t gotN = e->Read(got.data(), n);
        Expect(gotN == m->Data->Read(want.data(), n), "read count");
        Expect(got == want, "read bytes");
        break;
      }
      case 4: {
        if (!e) break;
        const int64_t size = in.Next(800);
        e->SetSize(size);
        m->Data->SetSize(size);
        break;
      }
      case 5:
        if (e) e->Flush();
        break;
      case 6:
        s->Flush();
        break;
      case 7: {
        static const int64_t limits[] = {1, 300, 900, 0xA00000};
        s->SetCacheLimit(limits[in.Next(4)]);
        break;
      }
      case 8:
        if (!transaction) {
          s->BeginTransaction();
          begun = Copy(model, false);
          transaction = true;
        } else if (in.Next(2) == 0) {
          s->CommitTransaction();
          transaction = false;
        } else {
          s->RollbackTransaction();
          model = Copy(begun, true);
          transaction = false;
        }
        break;
      case 9: {  // close and reopen: an open transaction is given up
        if (transaction) s->RollbackTransaction();
        if (transaction) model = Copy(begun, true);
        transaction = false;
        s->Flush();
        auto file = std::make_unique<TMemoryStream64>();
        file->CopyFrom64(s->Stream(), 0);
        // Closing the old file detaches its streams; the archive keeps them until it goes.
        auto old = std::move(s);
        old->SetStream(nullptr);
        s = Open(std::move(file));
        for (TStoreStream* h : held) Expect(Raises(h), "stream of a closed file still usable");
        held.clear();
        old.reset();
        model = Copy(model, true);
        break;
      }
      case 10:
        s->Compact();
        transaction = false;
        break;
      case 11:
        if (!m) break;
        s->DeleteStream(name);
        model.erase(model.begin() + (m - model.data()));
        break;
      case 12: {
        const std::string other = "S" + std::to_string(in.Next(4));
        if (!m || find(other)) break;
        s->RenameStream(name, other);
        m->Name = other;
        break;
      }
      case 13: {
        if (!e) break;
        const std::string from = "S" + std::to_string(in.Next(4));
        TModelStream* source = find(from);
        if (in.Next(2) == 0) {
          e->Clear();
          m->Data = Memory(std::string(), 0);
        } else if (source && source != m) {
          const std::string bytes = Content(*source->Data);
          e->LoadFromStream(s->Find(from));
          m->Data = Memory(bytes, 0);
        } else {
          const std::string bytes = Bytes(in.Next(500), in.Next(1000));
          platform::TStringStream src(bytes);
          e->LoadFromStream(&src);
          m->Data = Memory(bytes, 0);
        }
        break;
      }
      case 14: {
        if (m) break;
        const std::string bytes = Bytes(in.Next(400), in.Next(1000));
        auto added = std::make_unique<TStoreStream>(name);
        added->WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        s->AddStream(std::move(added));
        model.push_back({name, Memory(bytes, static_cast<int64_t>(bytes.size()))});
        break;
      }
      default: {
        TSingleStorage copy;
        copy.SetStream(std::make_unique<TMemoryStream64>());
        copy.Assign(s.get());
        Expect(copy.Count() == static_cast<int32_t>(model.size()), "copied count");
        for (const auto& x : model) Expect(ReadAll(copy, x.Name) == Content(*x.Data), "copied bytes");
        break;
      }
    }
    Compare(*s, model, in.Next(2) == 0);
    for (TStoreStream* h : held) {
      bool listed = false;
      for (int32_t i = 0; i < s->Count() && !listed; ++i) listed = s->Items(i) == h;
      Expect(listed || Raises(h), "a stream that left is still usable");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  try {
    Run(Data, Size);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "unexpected exception: %s\n", E.what());
    std::abort();
  }
  return 0;
}
