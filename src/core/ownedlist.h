#pragma once
// An ordered list of (text, object) pairs that owns its objects: deleting or clearing an entry
// frees its object. The model's lists (albums, pictures, categories, signature items, signatures,
// placements) build on it. Not thread-safe; see each list for the threads that may use it.
#include <QString>
#include <memory>
#include <utility>
#include <vector>

template <typename T> class TOwnedList {
public:
  TOwnedList() = default;
  TOwnedList(const TOwnedList&) = delete;
  TOwnedList& operator=(const TOwnedList&) = delete;
  virtual ~TOwnedList() { Clear(); }

  int Count() const { return int(entries_.size()); }
  bool IsEmpty() const { return entries_.empty(); }
  T* Objects(int index) const { return entries_.at(size_t(index)).object.get(); }
  T* operator[](int index) const { return Objects(index); }
  const QString& Strings(int index) const { return entries_.at(size_t(index)).text; }
  void SetString(int index, const QString& text) { entries_.at(size_t(index)).text = text; }

  // Appends and takes ownership; returns the new entry's position.
  int Add(const QString& text, T* object) {
    entries_.push_back(Entry{text, std::unique_ptr<T>(object)});
    return Count() - 1;
  }
  void Insert(int index, const QString& text, T* object) {
    entries_.insert(entries_.begin() + index, Entry{text, std::unique_ptr<T>(object)});
  }
  // Frees the object and removes the entry.
  virtual void Delete(int index) { entries_.erase(entries_.begin() + index); }
  // Removes the entry and hands its object to the caller.
  T* Extract(int index) {
    T* object = entries_.at(size_t(index)).object.release();
    entries_.erase(entries_.begin() + index);
    return object;
  }
  // Deletes from the last entry to the first.
  virtual void Clear() {
    while (!entries_.empty())
      Delete(Count() - 1);
  }
  int IndexOfObject(const T* object) const {
    for (int i = 0; i < Count(); ++i)
      if (entries_[size_t(i)].object.get() == object) return i;
    return -1;
  }
  void Move(int from, int to) {
    if (from == to) return;
    Entry e = std::move(entries_.at(size_t(from)));
    entries_.erase(entries_.begin() + from);
    entries_.insert(entries_.begin() + to, std::move(e));
  }
  void Exchange(int a, int b) { std::swap(entries_.at(size_t(a)), entries_.at(size_t(b))); }

private:
  struct Entry {
    QString text;
    std::unique_ptr<T> object;
  };
  std::vector<Entry> entries_;
};
