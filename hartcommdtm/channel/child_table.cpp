#include "channel/child_table.h"

#include <oleauto.h>

#include <algorithm>

#include "com/Bstr.h"

namespace hartdtm {

bool SameChildSystemTag(const std::wstring& a, const std::wstring& b) {
  com::Bstr left(a.c_str(), static_cast<UINT>(a.size()));
  com::Bstr right(b.c_str(), static_cast<UINT>(b.size()));
  return ::VarBstrCmp(left.get(), right.get(), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

bool ChildLists::AddTag(const std::wstring& tag) {
  win32::CsLock hold(lock_);
  if (std::find(tags_.begin(), tags_.end(), tag) != tags_.end()) return false;
  tags_.push_back(tag);
  return true;
}

bool ChildLists::RemoveTag(const std::wstring& tag) {
  win32::CsLock hold(lock_);
  for (auto it = tags_.begin(); it != tags_.end(); ++it) {
    if (!it->empty() && *it == tag) {
      tags_.erase(it);
      return true;
    }
  }
  return false;
}

bool ChildLists::HasTag(const std::wstring& tag) const {
  win32::CsLock hold(lock_);
  return std::find(tags_.begin(), tags_.end(), tag) != tags_.end();
}

std::vector<std::wstring> ChildLists::Tags() const {
  win32::CsLock hold(lock_);
  return tags_;
}

void ChildLists::ReplaceTags(const std::vector<std::wstring>& tags) {
  std::vector<std::wstring> unique;
  for (const std::wstring& tag : tags) {
    if (std::find(unique.begin(), unique.end(), tag) == unique.end()) unique.push_back(tag);
  }
  win32::CsLock hold(lock_);
  tags_.swap(unique);
}

size_t ChildLists::Count() const {
  win32::CsLock hold(lock_);
  return table_.size();
}

bool ChildLists::EntryAt(size_t index, ChildDtmEntry* out) const {
  win32::CsLock hold(lock_);
  if (index >= table_.size()) return false;
  if (out) *out = table_[index];
  return true;
}

size_t ChildLists::findLocked(const std::wstring& systemTag) const {
  for (size_t i = 0; i < table_.size(); ++i) {
    if (SameChildSystemTag(table_[i].systemTag, systemTag)) return i;
  }
  return table_.size();
}

bool ChildLists::Find(const std::wstring& systemTag, ChildDtmEntry* out) const {
  win32::CsLock hold(lock_);
  const size_t at = findLocked(systemTag);
  if (at == table_.size()) return false;
  if (out) *out = table_[at];
  return true;
}

std::vector<ChildDtmEntry> ChildLists::Table() const {
  win32::CsLock hold(lock_);
  return table_;
}

void ChildLists::Put(const ChildDtmEntry& entry) {
  win32::CsLock hold(lock_);
  const size_t at = findLocked(entry.systemTag);
  if (at == table_.size()) {
    table_.push_back(entry);
  } else {
    table_[at] = entry;
  }
}

bool ChildLists::RemoveEntry(const std::wstring& systemTag) {
  win32::CsLock hold(lock_);
  const size_t at = findLocked(systemTag);
  if (at == table_.size()) return false;
  table_.erase(table_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

bool ChildLists::Update(const std::wstring& systemTag, const std::wstring& dtmTag, uint8_t address) {
  win32::CsLock hold(lock_);
  const size_t at = findLocked(systemTag);
  if (at == table_.size()) return false;
  table_[at].dtmTag = dtmTag;
  table_[at].address = address;
  return true;
}

void ChildLists::ReplaceTable(const std::vector<ChildDtmEntry>& table) {
  std::vector<ChildDtmEntry> copy(table);
  win32::CsLock hold(lock_);
  table_.swap(copy);
  stale_ = false;
}

bool ChildLists::Stale() const {
  win32::CsLock hold(lock_);
  return stale_;
}

bool ChildLists::tableMatchesLocked(const std::vector<std::wstring>& tags) const {
  if (table_.size() != tags.size()) return false;
  for (const std::wstring& tag : tags) {
    if (findLocked(tag) == table_.size()) return false;
  }
  return true;
}

int ChildLists::Reconcile() {
  win32::CsLock hold(lock_);
  if (tableMatchesLocked(tags_)) return 0;
  table_.clear();
  if (tags_.empty()) return 0;
  stale_ = true;
  return 1;
}

bool ChildLists::TableMatches(const std::vector<std::wstring>& tags) const {
  win32::CsLock hold(lock_);
  return tableMatchesLocked(tags);
}

bool ChildLists::TagsMatch(const std::vector<std::wstring>& tags) const {
  win32::CsLock hold(lock_);
  if (tags_.size() != tags.size()) return false;
  for (const std::wstring& tag : tags) {
    if (std::find(tags_.begin(), tags_.end(), tag) == tags_.end()) return false;
  }
  return true;
}

bool ChildLists::LowestFreeAddress(uint8_t* address) const {
  bool used[64] = {};
  {
    win32::CsLock hold(lock_);
    for (const ChildDtmEntry& entry : table_) {
      if (entry.address < 64) used[entry.address] = true;
    }
  }
  for (uint8_t a = 0; a < 64; ++a) {
    if (!used[a]) {
      if (address) *address = a;
      return true;
    }
  }
  return false;
}

}  // namespace hartdtm
