// Object containers with optional ownership and change notification: the
// owning stack the lexers keep their saved states on, and an object list.
// An owning container frees every object it removes, replaces or clears.
#pragma once

#include "codecs/Exception.h"
#include "html/Persistent.h"

#include <functional>
#include <vector>

class EContainerError : public Exception {
public:
  using Exception::Exception;
};

class ECopyObject : public EContainerError {
public:
  using EContainerError::EContainerError;
};

class TContainer : public TComponent {
public:
  using TNotifyEvent = std::function<void(TObject* sender)>;

  explicit TContainer(TComponent* owner = nullptr) : TComponent(owner) {}

  virtual int Count() const = 0;
  bool IsEmpty() const { return Count() == 0; }
  virtual void Clear() = 0;

  // Within an update bracket no notice is sent: the outermost BeginUpdate
  // sends OnChanging, the outermost EndUpdate sends OnChange.
  virtual void BeginUpdate();
  virtual void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool value) { ownsObjects_ = value; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

  const char* ClassName() const override { return "TContainer"; }

protected:
  virtual void Changed();
  virtual void Changing();
  virtual void ReleaseItem(TObject* item) { DisposeItem(item, ownsObjects_); }
  virtual void ItemAdded(TObject* /*item*/) {}
  virtual void DisposeItem(TObject* item, bool freeIt);

private:
  int updateCount_ = 0;
  bool ownsObjects_ = true;
};

// Keeps a container's notices suspended for a scope, however it is left.
class TContainerUpdate {
public:
  explicit TContainerUpdate(TContainer& container) : container_(container) {
    container_.BeginUpdate();
  }
  ~TContainerUpdate() { container_.EndUpdate(); }
  TContainerUpdate(const TContainerUpdate&) = delete;
  TContainerUpdate& operator=(const TContainerUpdate&) = delete;

private:
  TContainer& container_;
};

// A stack of object references; the top is the last item.
class TCustomStack : public TContainer {
public:
  explicit TCustomStack(TComponent* owner = nullptr) : TContainer(owner) {}
  // Frees the items still held when owning, the top first, without notices.
  ~TCustomStack() override;

  int Count() const override { return static_cast<int>(items_.size()); }
  void Push(TObject* item);
  // The last item; EContainerError "Stack underflow" when empty.
  TObject* Top() const;
  // Removes the last item and releases it (frees it when owning);
  // EContainerError "Stack underflow" when empty.
  void Pop();
  // Releases every item from the top down.
  void Clear() override;
  const std::vector<TObject*>& Items() const { return items_; }

  const char* ClassName() const override { return "TCustomStack"; }

protected:
  // Copies into an object list (bottom first) or into another stack (same
  // top). The two may not both own the items they would then share.
  void AssignTo(TPersistent* dest) const override;

private:
  std::vector<TObject*> items_;
};

// Pushes an item the caller hands over: when the push fails before the stack
// holds it, the item is freed and the failure passed on.
void PushOwned(TCustomStack& stack, TObject* item);

class TStack : public TCustomStack {
public:
  explicit TStack(TComponent* owner = nullptr) : TCustomStack(owner) {}
  const char* ClassName() const override { return "TStack"; }
};

// An indexed list of object references. Index errors raise EContainerError
// "List index out of bounds (<index>)".
class TCustomObjectList : public TContainer {
public:
  explicit TCustomObjectList(TComponent* owner = nullptr) : TContainer(owner) {}
  ~TCustomObjectList() override;

  int Count() const override { return static_cast<int>(items_.size()); }
  TObject* Get(int index) const;
  // Stores item at index; the replaced item is released.
  void Put(int index, TObject* item);
  int Add(TObject* item);
  void Delete(int index);
  // Deletes the item's index when found; returns that index or -1.
  int Remove(TObject* item);
  // Removes without releasing, and hands the item to the caller.
  TObject* Extract(int index);
  TObject* ExtractItem(TObject* item);  // null when absent
  void Exchange(int index1, int index2);
  // Found flag; index is the item's index, or Count when absent.
  bool Find(TObject* item, int& index) const;
  int IndexOf(TObject* item) const;
  void Insert(int index, TObject* item);
  // Appends the items of source (shared references).
  void AddList(const TCustomObjectList& source);
  // Appends a copy of each item of source, each made by its own class
  // (CreateInstance) and filled by Assign. ECopyObject "Object is not
  // TPersistent" for an item that cannot be copied so.
  void AddCopies(const TCustomObjectList& source);
  void Clear() override;
  const std::vector<TObject*>& Items() const { return items_; }

  // From another object list: clear, then add its items.
  void Assign(const TPersistent* source) override;
  const char* ClassName() const override { return "TCustomObjectList"; }

private:
  void CheckIndex(int index) const;
  std::vector<TObject*> items_;
};
