#include "html/Containers.h"

#include <memory>
#include <utility>

namespace {

const char* const StackUnderflow = "Stack underflow";
const char* const ListOwnersMessage = "both Lists are owners";
const char* const StackOwnersMessage = "Both lists are owners";

}  // namespace

// ---- TContainer

void TContainer::BeginUpdate() {
  if (updateCount_ == 0) Changing();
  ++updateCount_;
}

void TContainer::EndUpdate() {
  if (updateCount_ <= 0) return;  // an unmatched EndUpdate changes nothing
  --updateCount_;
  if (updateCount_ == 0) Changed();
}

void TContainer::Changed() {
  if (updateCount_ == 0 && OnChange) OnChange(this);
}

void TContainer::Changing() {
  if (updateCount_ == 0 && OnChanging) OnChanging(this);
}

void TContainer::DisposeItem(TObject* item, bool freeIt) {
  if (freeIt) delete item;
}

// ---- TCustomStack

TCustomStack::~TCustomStack() {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) DisposeItem(*it, OwnsObjects());
}

void TCustomStack::Push(TObject* item) {
  Changing();
  items_.push_back(item);
  ItemAdded(item);
  Changed();
}

TObject* TCustomStack::Top() const {
  if (items_.empty()) throw EContainerError(StackUnderflow);
  return items_.back();
}

void TCustomStack::Pop() {
  if (items_.empty()) throw EContainerError(StackUnderflow);
  Changing();
  TObject* item = items_.back();
  items_.pop_back();
  ReleaseItem(item);
  Changed();
}

void TCustomStack::Clear() {
  Changing();
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) ReleaseItem(*it);
  items_.clear();
  Changed();
}

void PushOwned(TCustomStack& stack, TObject* item) {
  try {
    stack.Push(item);
  } catch (...) {
    if (stack.IsEmpty() || stack.Top() != item) delete item;
    throw;
  }
}

void TCustomStack::AssignTo(TPersistent* dest) const {
  if (dest == this) return;  // copying onto itself would clear the source first
  if (auto* list = dynamic_cast<TCustomObjectList*>(dest)) {
    if (list->OwnsObjects() && OwnsObjects()) throw EContainerError(ListOwnersMessage);
    TContainerUpdate update(*list);
    list->Clear();
    for (TObject* item : items_) list->Add(item);
  } else if (auto* stack = dynamic_cast<TCustomStack*>(dest)) {
    if (stack->OwnsObjects() && OwnsObjects()) throw EContainerError(StackOwnersMessage);
    TContainerUpdate update(*stack);
    stack->Clear();
    for (TObject* item : items_) stack->Push(item);
  } else {
    TContainer::AssignTo(dest);
  }
}

// ---- TCustomObjectList

TCustomObjectList::~TCustomObjectList() {
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) DisposeItem(*it, OwnsObjects());
}

void TCustomObjectList::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw EContainerError("List index out of bounds (" + std::to_string(index) + ")");
}

TObject* TCustomObjectList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TCustomObjectList::Put(int index, TObject* item) {
  CheckIndex(index);
  Changing();
  TObject* old = items_[static_cast<size_t>(index)];
  items_[static_cast<size_t>(index)] = item;
  if (old != item) ReleaseItem(old);  // storing the same object again must not free it
  Changed();
}

int TCustomObjectList::Add(TObject* item) {
  Changing();
  items_.push_back(item);
  ItemAdded(item);
  Changed();
  return Count() - 1;
}

void TCustomObjectList::Delete(int index) {
  CheckIndex(index);
  Changing();
  TObject* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  ReleaseItem(item);
  Changed();
}

int TCustomObjectList::Remove(TObject* item) {
  int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

TObject* TCustomObjectList::Extract(int index) {
  CheckIndex(index);
  Changing();
  TObject* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  Changed();
  return item;
}

TObject* TCustomObjectList::ExtractItem(TObject* item) {
  int index = IndexOf(item);
  return index < 0 ? nullptr : Extract(index);
}

void TCustomObjectList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  Changing();
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
  Changed();
}

bool TCustomObjectList::Find(TObject* item, int& index) const {
  index = IndexOf(item);
  if (index >= 0) return true;
  index = Count();
  return false;
}

int TCustomObjectList::IndexOf(TObject* item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i] == item) return static_cast<int>(i);
  return -1;
}

void TCustomObjectList::Insert(int index, TObject* item) {
  if (index < 0 || index > Count())
    throw EContainerError("List index out of bounds (" + std::to_string(index) + ")");
  Changing();
  items_.insert(items_.begin() + index, item);
  ItemAdded(item);
  Changed();
}

void TCustomObjectList::AddList(const TCustomObjectList& source) {
  if (OwnsObjects() && source.OwnsObjects()) throw EContainerError(ListOwnersMessage);
  std::vector<TObject*> items = source.items_;  // source may be this list
  TContainerUpdate update(*this);
  for (TObject* item : items) Add(item);
}

void TCustomObjectList::AddCopies(const TCustomObjectList& source) {
  std::vector<TObject*> items = source.items_;  // source may be this list
  TContainerUpdate update(*this);
  for (TObject* item : items) {
    auto* persistent = dynamic_cast<TPersistent*>(item);
    std::unique_ptr<TPersistent> copy(persistent ? persistent->CreateInstance() : nullptr);
    if (!copy) throw ECopyObject("Object is not TPersistent");
    copy->Assign(persistent);
    Add(copy.get());
    copy.release();
  }
}

void TCustomObjectList::Clear() {
  Changing();
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) ReleaseItem(*it);
  items_.clear();
  Changed();
}

void TCustomObjectList::Assign(const TPersistent* source) {
  auto* list = dynamic_cast<const TCustomObjectList*>(source);
  if (!list) {
    TContainer::Assign(source);
    return;
  }
  if (list == this) return;
  if (OwnsObjects() && list->OwnsObjects()) throw EContainerError(ListOwnersMessage);
  TContainerUpdate update(*this);
  Clear();
  for (TObject* item : list->items_) Add(item);
}
