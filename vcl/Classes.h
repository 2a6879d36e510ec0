// Object and ownership model of the window layer: components own the components created with
// them as owner and release them in reverse order of creation.
#pragma once

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

}  // namespace vcl
