// The channel's two lists of the device DTMs placed below it:
// - the system-tag list that the FDT sub-topology calls keep (compared as
//   plain case-sensitive strings);
// - the child table: each child DTM's own tag and polling address as its
//   document states them (system tags compared with VarBstrCmp in the
//   user's default locale), with a stale flag set when the table was
//   cleared because it no longer matched the frame's child list.
//
// The apartment thread (sub-topology calls, IHART_Channel) and the worker
// (children-changed event) both change the lists, so every operation takes
// the lock; none calls out of the channel while it holds it. A tag is never
// listed twice and a system tag never has two table entries.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace hartdtm {

constexpr uint8_t kUnknownChildAddress = 0xFF;

struct ChildDtmEntry {
  std::wstring systemTag;
  std::wstring dtmTag;
  uint8_t address = kUnknownChildAddress;
};

// System tags of the child table compare equal (VarBstrCmp, user's locale).
bool SameChildSystemTag(const std::wstring& a, const std::wstring& b);

class ChildLists {
 public:
  // --- system-tag list ---
  // Appends the tag unless it is listed already; false when it was.
  bool AddTag(const std::wstring& tag);
  // Removes the first equal entry; false when none is listed.
  bool RemoveTag(const std::wstring& tag);
  bool HasTag(const std::wstring& tag) const;
  std::vector<std::wstring> Tags() const;
  void ReplaceTags(const std::vector<std::wstring>& tags);

  // --- child table ---
  size_t Count() const;
  bool EntryAt(size_t index, ChildDtmEntry* out) const;
  bool Find(const std::wstring& systemTag, ChildDtmEntry* out) const;
  std::vector<ChildDtmEntry> Table() const;
  // Appends the entry, or replaces the entry of the same system tag.
  void Put(const ChildDtmEntry& entry);
  // Removes the first entry of the system tag; false when there is none.
  bool RemoveEntry(const std::wstring& systemTag);
  // Stores tag and address in the entry of the system tag; false when none.
  bool Update(const std::wstring& systemTag, const std::wstring& dtmTag, uint8_t address);
  // Replaces the whole table (stream load, rebuild) and clears the stale flag.
  void ReplaceTable(const std::vector<ChildDtmEntry>& table);
  bool Stale() const;

  // After the system-tag list was read from the frame: a table that has an
  // entry for exactly the listed tags is kept (0); otherwise it is cleared
  // and marked stale (1). An empty list clears a table without marking it.
  int Reconcile();
  // Whether the table has exactly one entry for each of the tags, and
  // whether the system-tag list holds exactly the tags.
  bool TableMatches(const std::vector<std::wstring>& tags) const;
  bool TagsMatch(const std::vector<std::wstring>& tags) const;

  // The lowest address 0..63 that no entry has; false when all are taken.
  bool LowestFreeAddress(uint8_t* address) const;

 private:
  bool tableMatchesLocked(const std::vector<std::wstring>& tags) const;
  size_t findLocked(const std::wstring& systemTag) const;  // table_.size() when none

  mutable win32::CriticalSection lock_;
  std::vector<std::wstring> tags_;
  std::vector<ChildDtmEntry> table_;
  bool stale_ = false;
};

}  // namespace hartdtm
