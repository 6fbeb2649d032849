// Binary data belonging to a shape (a bitmap's picture, a metafile), held both as the stored
// bytes and as the object decoded from them. The bytes live in an external file, the
// document archive or the XML itself while the document is closed; they are loaded on demand
// and the object is built at the first lock (normally the first paint). The owner supplies
// the format knowledge through the On... handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/dtpStoredSetting.h"
#include "platform/Classes.h"
#include "platform/Exceptions.h"

namespace document {

class TXmlNode;
class TdtpShape;

class EResourceError : public platform::Exception {
 public:
  explicit EResourceError(std::string message) : Exception(std::move(message)) {}
};

// A stream made of separately allocated segments of SegmentSize bytes, so that large data
// never needs one contiguous block. Segments are allocated only when written; reads stop at
// Size.
class TMapStream : public platform::TStream {
 public:
  static constexpr int32_t SegmentSize = 16384;
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  void SetSize(int64_t NewSize) override;
  // Segments currently allocated.
  int32_t SegmentCount() const { return int32_t(FSegments.size()); }

 private:
  std::vector<std::unique_ptr<uint8_t[]>> FSegments;
  int32_t FPosition = 0;
  int32_t FSize = 0;
};

enum class TdtpResourceStorage : uint8_t { None = 0, External = 1, Archive = 2, Embedded = 3 };

const char* ResourceStorageName(TdtpResourceStorage Value);

class TdtpResource : public platform::TPersistent {
 public:
  using TResourceEvent = std::function<void(TdtpResource*)>;
  using TResourceFileEvent = std::function<void(TdtpResource*, const std::string&)>;

  explicit TdtpResource(TdtpShape* Owner = nullptr);
  ~TdtpResource() override;
  TdtpResource(const TdtpResource&) = delete;
  TdtpResource& operator=(const TdtpResource&) = delete;
  std::string ClassName() const override { return "TdtpResource"; }

  void Assign(const platform::TPersistent* Source) override;
  virtual void FreeData();
  virtual void LoadObject();
  virtual void LoadFromSource();
  virtual void StoreObject();
  virtual void StoreData();
  virtual void ReleaseObject();
  virtual void LoadFromArchive(const std::string& /*ArchName*/) {}
  virtual void LoadEmbedded();
  virtual void LoadFromFile(const std::string& FileName);
  virtual void LoadFromXml(TXmlNode* Node);
  virtual void SaveToArchive() {}
  virtual void SaveEmbeddedToXml();
  virtual void SaveToFile(const std::string& FileName);
  virtual void SaveToXml(TXmlNode* Node);

  void Lock();
  void Unlock();
  void SetState(uint8_t Target);
  void SetObject(std::unique_ptr<platform::TObject> Obj);
  bool IsEmpty() { return FData->Size() == 0; }

  uint8_t State() const { return FState; }
  int32_t LockCount() const { return FLockCount; }
  platform::TObject* Object() const { return FObject.get(); }
  TMapStream* Data() const { return FData.get(); }
  TdtpShape* Owner() const { return FOwner; }
  // Called by an owner that is destroyed first.
  void DetachOwner() { FOwner = nullptr; }
  uint32_t Stamp() const { return FStamp; }

  // Where the bytes are kept: stored with the owner, so setting one by code changes the owner.
  // (Modified says the decoded object differs from the bytes; it is not stored.)
  TStoredSetting<std::string, TdtpResource> ArchName{this, {}}, Ext{this, {}}, FileName{this, {}};
  bool Modified = false;
  TStoredSetting<TdtpResourceStorage, TdtpResource> Storage{this, TdtpResourceStorage::Embedded};
  // A stored setting changed by code: the owner is changed.
  void SettingChanged();

  TResourceFileEvent OnImport, OnSaveToFile;
  TResourceEvent OnLoadObject, OnStoreObject, OnChange;

 protected:
  TXmlNode* FNode = nullptr;

 private:
  void DropObject();
  uint8_t FState = 0;
  uint32_t FStamp = 0;
  int32_t FLockCount = 0;
  std::unique_ptr<platform::TObject> FObject;
  // Tells the owner that its picture or stored settings changed.
  void NotifyChange();
  TdtpShape* FOwner = nullptr;
  std::unique_ptr<TMapStream> FData;
  // Above 0 while the resource reads or writes its own settings.
  int32_t FFiling = 0;
};

// The resource class registry: classes by name, so stored resources can be rebuilt.
struct TResourceClassHolder {
  std::string ClassName;
  std::function<std::unique_ptr<TdtpResource>(TdtpShape*)> Construct;
};
// Returns the existing entry when a class of that name is already registered.
const TResourceClassHolder* RegisterResourceClass(const std::string& ClassName,
                                                  std::function<std::unique_ptr<TdtpResource>(TdtpShape*)> Construct);
// Null when no class of that name is registered.
const TResourceClassHolder* FindResourceClass(const std::string& ClassName);
int32_t ResourceClassCount();
void InitializeDtpResource();
void FinalizeDtpResource();

}  // namespace document
