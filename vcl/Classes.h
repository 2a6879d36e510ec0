// Object and ownership model of the window layer: components own the components created with
// them as owner and release them in reverse order of creation.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "System.h"

namespace vcl {

class TObject {
 public:
  virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TKeyPressEvent = std::function<void(TObject* Sender, wchar_t& Key)>;

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const String& Name() const { return name_; }
  void SetName(String name) { name_ = std::move(name); }

  // The owned component with this name, or null.
  TComponent* FindComponent(const String& name) const;

 private:
  void Insert(TComponent* component) { components_.push_back(component); }
  void Remove(TComponent* component);

  TComponent* owner_;
  String name_;
  std::vector<TComponent*> components_;
};

// A read-only view of one resource of a module: its bytes stay where the system mapped them.
class TResourceStream : public TObject {
 public:
  // Throws Exception naming the resource when the module has no such resource.
  TResourceStream(HINSTANCE instance, const String& name, const wchar_t* type);
  const void* Memory() const { return data_; }
  size_t Size() const { return size_; }
  // Creates the file or empties an existing one, then writes every byte; throws Exception
  // naming the file and the system's reason when it cannot be created or written.
  void SaveToFile(const String& fileName) const;

 private:
  String name_;
  const void* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace vcl
